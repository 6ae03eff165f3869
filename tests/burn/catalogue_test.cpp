#include "burn/catalogue.h"
#include <gtest/gtest.h>
TEST(Catalogue, Placeholder) {}
