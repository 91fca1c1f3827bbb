#include "copybook/cli.hpp"

int main(int argc, char** argv) { return rekmo::copybook::copybook_main(argc, argv); }
