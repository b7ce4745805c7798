// The command line on the attached devices (and, with --simulate, the demo's).
#include "cli/cli.h"
#include "platform/real_hid.h"

int main(int argc, char** argv) {
  return tensivo::cli::Main(argc, argv, tensivo::platform::MakeRealHid);
}
