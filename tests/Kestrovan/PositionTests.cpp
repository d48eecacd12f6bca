#include "Kestrovan/Line.h"
#include "Kestrovan/Position.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

using kestrovan::Line;
using kestrovan::LineFragment;
using kestrovan::Position;

TEST(Position, ComparesInReadingOrder)
{
    using Result = Position::compareResult;
    EXPECT_EQ(Position::compare(Position(5, 1), Position(0, 2)), Result::before);
    EXPECT_EQ(Position::compare(Position(0, 2), Position(5, 1)), Result::after);
    EXPECT_EQ(Position::compare(Position(3, 2), Position(4, 2)), Result::before);
    EXPECT_EQ(Position::compare(Position(4, 2), Position(3, 2)), Result::after);
    EXPECT_EQ(Position::compare(Position(4, 2), Position(4, 2)), Result::equal);
    EXPECT_EQ(Position::compare(Position(0, -1), Position(0, 0)), Result::before) << "rows may be negative";

    std::vector<Position> positions = {{5, 1}, {0, 2}, {9, 0}, {2, 1}};
    std::sort(positions.begin(), positions.end());
    EXPECT_EQ(positions, (std::vector<Position>{{9, 0}, {2, 1}, {5, 1}, {0, 2}}));
    EXPECT_EQ(Position(7, 3).debugDescription(), "col=7 row=3");
}

TEST(Line, FragmentsAddUpAndDescribeThemselves)
{
    Line line;
    EXPECT_EQ(line.debugDescription(), "[]");
    line.add(LineFragment{std::string("hello"), 4, 0, 5});
    line.add(LineFragment{std::string("a\nb"), 4, 10, 4});
    line.add(LineFragment{std::nullopt, 5, 0, 0});
    EXPECT_EQ(line.length, 9);
    EXPECT_EQ(line.debugDescription(), "3/9: [hello][a\\nb][][");
    EXPECT_EQ(line.toString(), "helloa\nb");
    EXPECT_EQ(line[1].location, 10);

    EXPECT_EQ(line.getFragmentIndex(Position(3, 4)), 0u);
    EXPECT_EQ(line.getFragmentIndex(Position(13, 4)), 1u);
    EXPECT_FALSE(line.getFragmentIndex(Position(7, 4))) << "between the fragments";
    EXPECT_FALSE(line.getFragmentIndex(Position(0, 5))) << "an empty fragment covers no column";
}
