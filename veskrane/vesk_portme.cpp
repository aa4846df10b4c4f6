// vesk_portme.cpp - (to be written)
#include "veskrane.h"
