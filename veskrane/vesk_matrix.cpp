// vesk_matrix.cpp - (to be written)
#include "veskrane.h"
