#include "inspect/inspect.hpp"

int main(int argc, char** argv) { return rekmo::inspect::inspect_main(argc, argv); }
