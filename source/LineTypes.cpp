#include "source/LineTypes.h"
