#include "receiver/frame_parser.h"
#include <gtest/gtest.h>
TEST(FrameParser, Smoke) { receiver::FrameParser p; EXPECT_FALSE(p.helloReceived()); }
