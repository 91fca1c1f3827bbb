// rekmo-copybook's entry point, for main() and for tests.
#pragma once

namespace rekmo::copybook {
int copybook_main(int argc, char** argv);
}
