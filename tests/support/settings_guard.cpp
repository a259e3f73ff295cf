#include "settings_guard.h"
