// talvek: the desktop shell.
#include "app/startup.h"
#include "platform/process_setup.h"

int main(int argc, char** argv) {
  VirelantDesktop::platform::InitProcess();
  return VirelantDesktop::app::RunApplication(VirelantDesktop::app::CommandLine(argv, argv + argc));
}
