// vesk_state.cpp - (to be written)
#include "veskrane.h"
