// quorvelle-batch --capture on a disk that fills up and has room again.
#include <gtest/gtest.h>
