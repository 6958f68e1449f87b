#include "layer/DocumentFile.hpp"
