#pragma once

#include "platform/framework/sentry/exception.h"

namespace Segment {

// A switch segment could not be created, opened or used; the text names the segment and why.
class SegmentException : public Sentry::Exception {
public:
   using Exception::Exception;
};

}  // namespace Segment
