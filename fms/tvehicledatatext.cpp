#include "fms/tvehicledatatext.h"

#include "fms/tbusfmsstandard.h"

#include <algorithm>
#include <string>

std::vector<TAString> TVehicleDataText::Names()
{
    const TBusFmsStandard catalogue("00.02");
    std::vector<TAString> names;
    names.reserve(static_cast<std::size_t>(catalogue.SignalCount()));
    for (int i = 0; i < catalogue.SignalCount(); ++i)
        names.push_back(catalogue.Signal(i).Name);
    return names;
}

std::vector<TAString> TVehicleDataText::Values(const TBusFmsStandard* catalogue, int rows)
{
    std::vector<TAString> values(static_cast<std::size_t>(std::max(rows, 0)));
    if (!catalogue)
        return values;
    const int n = std::min(rows, catalogue->SignalCount());
    for (int i = 0; i < n; ++i)
        values[static_cast<std::size_t>(i)] = catalogue->Signal(i).Write();
    return values;
}

TAString TVehicleDataText::Table(const TBusFmsStandard& catalogue)
{
    int width = 0;
    for (int i = 0; i < catalogue.SignalCount(); ++i)
        width = std::max(width, catalogue.Signal(i).Name.Length());
    const std::vector<TAString> values = Values(&catalogue, catalogue.SignalCount());
    std::string text;
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        const TAString& name = catalogue.Signal(i).Name;
        text += name.str();
        text.append(static_cast<std::size_t>(width - name.Length() + 1), ' ');
        text += values[static_cast<std::size_t>(i)].str();
        text += '\n';
    }
    return text;
}
