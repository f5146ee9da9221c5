// The pointers an operation is given: one it needs that is null (a record, an
// out-parameter, or a buffer with a non-zero length) fails the operation with
// USB_MESSAGE_PARAMETER_OUT_OF_RANGE before anything is sent or changed,
// instead of crashing the caller's process. A null buffer with a length of 0
// stays allowed wherever a length of 0 is.
#pragma once

#include <vantrel/VantrelTypes.h>

// Inside a VantrelUSB method.
#define VANTREL_REQUIRE(condition)                              \
  do {                                                          \
    if (!(condition)) {                                         \
      context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE; \
      return 0;                                                 \
    }                                                           \
  } while (false)
