// Forwards to call/ErrorText.h until call/CallControl.cpp includes that directly.
#pragma once

#include "call/ErrorText.h"
