#pragma once
// A two-dimensional table of doubles, Nx columns by Ny rows (each at least 2), stored
// row-major: column x of row y is element y * Nx + x. Characteristic maps are written
// into it from a short text and resampled onto the table's own grid.

#include "support/tastring.h"

#include <cstdint>
#include <span>
#include <vector>

class TMatrix {
public:
    // A size below 2 is raised to 2; every element starts at 0.0.
    TMatrix(int32_t nx, int32_t ny);

    int32_t Nx() const { return nx_; }
    int32_t Ny() const { return ny_; }
    double At(int32_t x, int32_t y) const;

    // Text: "Nx <nx> Ny <ny>" then nx * ny numbers row-major, separated by whitespace;
    // missing numbers read as 0. The source grid is spread evenly over the table: source
    // column c lands on column trunc(c / (nx - 1) * (Nx - 1)), rows are interpolated
    // linearly at every table row, and the columns in between are interpolated linearly.
    // An 8 x 5 source on 101 x 101 puts its points at columns 0, 14, 28, 42, 57, 71, 85,
    // 100 and rows 0, 25, 50, 75, 100.
    // Returns true when the text fails to parse (wrong keywords, nx or ny below 2); the
    // table is then left as it was.
    bool LoadFromText(const TAString& text);

    // Copies all Nx * Ny values in storage order and returns their count.
    // Throws TBaseError("TMatrix::CopyTo", "too small") when the destination cannot hold them.
    int32_t CopyTo(std::span<double> destination) const;

private:
    double& Cell(int32_t x, int32_t y) { return data_[static_cast<size_t>(y) * static_cast<size_t>(nx_) + static_cast<size_t>(x)]; }

    int32_t nx_;
    int32_t ny_;
    std::vector<double> data_;
};
