// A media core file that reaches into the desktop backend: the include check must refuse it.
#include "engine/media/desktop/display.h"
