#include "Performance.h"
