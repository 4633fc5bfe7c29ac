#include "support/ttreevalue.h"

void TTreeValue::Assign(const TTree& other)
{
    const auto& value = dynamic_cast<const TTreeValue&>(other);
    TTree::Assign(value);
    value_ = value.value_;
}
