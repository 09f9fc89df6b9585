// In the core: a platform layer's function defined as a call through its
// module's table (see MovieModule.h for the rows).
#pragma once

#include "platform/Modules.h"

// Loads the module on first use; returns the failure value when it cannot.
#define QOR_GATE_LOAD(TABLE, SPEC, NS, RET, NAME, PARAMS, ARGS, FAIL)        \
  RET NS::NAME PARAMS {                                                      \
    const auto* t = static_cast<const TABLE*>(Modules::Require(SPEC));       \
    if (t == nullptr) return FAIL;                                           \
    return t->NS##_##NAME ARGS;                                              \
  }

// Hands back what the module made: without the module nothing was made.
#define QOR_GATE_KEEP(TABLE, SPEC, NS, RET, NAME, PARAMS, ARGS, FAIL)        \
  RET NS::NAME PARAMS {                                                      \
    const auto* t = static_cast<const TABLE*>(Modules::IfLoaded(SPEC));      \
    if (t == nullptr) return FAIL;                                           \
    return t->NS##_##NAME ARGS;                                              \
  }
