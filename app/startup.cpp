// Start-up spine (being built).
#include "app/startup.h"

namespace app {

int Main(int, char**) { return 0; }

}  // namespace app
