// The whole portable engine core.
#pragma once

#include "qvcore/convert.h"
#include "qvcore/decoder.h"
#include "qvcore/file_data.h"
#include "qvcore/mixer.h"
#include "qvcore/probe.h"
