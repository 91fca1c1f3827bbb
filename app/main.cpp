// rekmo HostFile WinFile FormatFile
#include "app/app.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
    rekmo::platform::startup();
    return rekmo::app_main(rekmo::platform::command_line(argc, argv));
}
