#pragma once

// Everything a test or benchmark needs to stand up simulated Kavio units.
#include "CommandFrame.h"
#include "Response.h"
#include "SimulatedUnit.h"
#include "UnitConfig.h"
#include "UnitSimulator.h"
