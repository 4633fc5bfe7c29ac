#include "support/ttree.h"

void TTree::Assign(const TTree& other)
{
    name_ = other.name_;
}

void TTree::Save(TAString& /*output*/, int /*depth*/) const {}

void TTree::Load(const TAString& /*input*/, int& /*position*/) {}
