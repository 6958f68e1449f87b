#include "layer/TextCodec.hpp"
