#pragma once

// Every UTF-16 text helper at once, for the files that have not moved to the narrower headers.

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "core/text_format.h"
