#include "ListBoxDragger.h"
