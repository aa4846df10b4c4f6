// vesk_list_join.cpp - (to be written)
#include "veskrane.h"
