#include "uvAbout.h"
