#include "sim/tmatrix.h"

#include "support/tbaseerror.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

std::vector<std::string> Tokens(const std::string& text)
{
    std::vector<std::string> tokens;
    size_t pos = 0;
    const char* blanks = " \t\r\n\v\f";
    while (true) {
        pos = text.find_first_not_of(blanks, pos);
        if (pos == std::string::npos) break;
        size_t end = text.find_first_of(blanks, pos);
        if (end == std::string::npos) end = text.size();
        tokens.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return tokens;
}

// Leading integer of a token as the C library reads it; empty or malformed gives 0.
int64_t TokenInteger(const std::string& token)
{
    return std::strtoll(token.c_str(), nullptr, 10);
}

}  // namespace

TMatrix::TMatrix(int32_t nx, int32_t ny)
    : nx_(std::max<int32_t>(nx, 2)),
      ny_(std::max<int32_t>(ny, 2)),
      data_(static_cast<size_t>(nx_) * static_cast<size_t>(ny_), 0.0)
{
}

double TMatrix::At(int32_t x, int32_t y) const
{
    if (x < 0 || x >= nx_ || y < 0 || y >= ny_) throw TBaseError("TMatrix::At", "IndexOverrun");
    return data_[static_cast<size_t>(y) * static_cast<size_t>(nx_) + static_cast<size_t>(x)];
}

bool TMatrix::LoadFromText(const TAString& text)
{
    const std::vector<std::string> tokens = Tokens(text.str());
    auto token = [&tokens](size_t i) -> std::string { return i < tokens.size() ? tokens[i] : std::string(); };

    if (token(0) != "Nx" || token(2) != "Ny") return true;
    const int64_t nx = TokenInteger(token(1));
    const int64_t ny = TokenInteger(token(3));
    if (nx <= 1 || ny <= 1) return true;

    // Source values are read where they are needed; a value past the end of the text is 0.
    auto src = [&tokens, nx](int64_t row, int64_t col) -> double {
        const uint64_t index = 4u + static_cast<uint64_t>(row) * static_cast<uint64_t>(nx) + static_cast<uint64_t>(col);
        return index < tokens.size() ? std::strtod(tokens[index].c_str(), nullptr) : 0.0;
    };

    for (int64_t c = 0; c < nx; ++c) {
        const auto tc = static_cast<int32_t>(std::trunc(static_cast<double>(c) / static_cast<double>(nx - 1) * (nx_ - 1)));
        const auto pc = static_cast<int32_t>(std::trunc(static_cast<double>(c - 1) / static_cast<double>(nx - 1) * (nx_ - 1)));
        for (int32_t i = 0; i < ny_; ++i) {
            const double u = static_cast<double>(i) / (ny_ - 1) * static_cast<double>(ny - 1);
            const int64_t v = std::min(static_cast<int64_t>(std::trunc(u)), ny - 1);
            const int64_t w = v + 1 == ny ? v : v + 1;
            Cell(tc, i) = src(v, c) + (src(w, c) - src(v, c)) * (u - static_cast<double>(v));
        }
        if (pc >= 0) {
            for (int32_t i = 0; i < ny_; ++i) {
                const double left = Cell(pc, i);
                const double right = Cell(tc, i);
                for (int32_t j = pc + 1; j < tc; ++j)
                    Cell(j, i) = left + (right - left) * (j - pc) / (tc - pc);
            }
        }
    }
    return false;
}

int32_t TMatrix::CopyTo(std::span<double> destination) const
{
    if (destination.size() < data_.size()) throw TBaseError("TMatrix::CopyTo", "too small");
    std::copy(data_.begin(), data_.end(), destination.begin());
    return static_cast<int32_t>(data_.size());
}
