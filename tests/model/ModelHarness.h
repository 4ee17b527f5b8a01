#pragma once

// The model harness lives with the other shared fixtures now.
#include "support/ModelHarness.h"
