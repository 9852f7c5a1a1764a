#include "sim/sim_clock.h"
