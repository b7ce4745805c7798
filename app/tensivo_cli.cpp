// The command line on the attached devices (and, with --simulate, the demo's).
#include "cli/cli.h"
#include "real_hid.h"

int main(int argc, char** argv) {
  return tensivo::cli::Main(argc, argv, [] { return std::make_unique<tensivo::app::RealHid>(); });
}
