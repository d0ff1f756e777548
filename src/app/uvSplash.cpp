#include "uvSplash.h"
