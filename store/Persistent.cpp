#include "Persistent.h"

Persistent::~Persistent() = default;
