// Where things are in a pane, read from a state dump: its cells and the rectangles the dump
// records for its controls, in the window's coordinates.
#pragma once

#include "VeskDriver.h"

#include <ostream>
#include <string>
#include <utility>

namespace veskgui {

/// Where the terminal's cells are in the window, from a pane record.
struct PaneGeometry
{
    explicit PaneGeometry(const Record& pane)
        : x(std::stod(pane["terminal-x"])), y(std::stod(pane["terminal-y"])),
          cellWidth(std::stod(pane["cell-width"])), cellHeight(std::stod(pane["cell-height"]))
    {}
    /// The window point at (column, row) in cells; 0.5 is a cell's centre.
    std::pair<int, int> at(double col, double row) const
    {
        return {static_cast<int>(x + col * cellWidth), static_cast<int>(y + row * cellHeight)};
    }
    double x;
    double y;
    double cellWidth;
    double cellHeight;
};

/// A rectangle of the dump: `prefix`-x, -y, -width and -height.
struct Box
{
    Box(const Record& record, const std::string& prefix)
        : x(std::stod(record[prefix + "-x"])), y(std::stod(record[prefix + "-y"])),
          width(std::stod(record[prefix + "-width"])), height(std::stod(record[prefix + "-height"]))
    {}
    Box(double x, double y, double width, double height) : x(x), y(y), width(width), height(height) {}
    bool overlaps(const Box& other) const
    {
        return x < other.x + other.width && other.x < x + width && y < other.y + other.height &&
               other.y < y + height;
    }
    bool contains(const Box& other) const
    {
        return other.x >= x && other.y >= y && other.x + other.width <= x + width &&
               other.y + other.height <= y + height;
    }
    std::pair<int, int> centre() const
    {
        return {static_cast<int>(x + width / 2), static_cast<int>(y + height / 2)};
    }
    double x;
    double y;
    double width;
    double height;
};

inline std::ostream& operator<<(std::ostream& out, const Box& box)
{
    return out << box.width << "x" << box.height << "+" << box.x << "+" << box.y;
}

} // namespace veskgui
