#include "support/tbaseerror.h"

TBaseError::TBaseError(const TAString& operation, const TAString& message)
    : message_(message), operation_(operation)
{
    what_ = DescribeText();
}

TBaseError::TBaseError(const TAString& operation, const TAString& message, const TAString& detail)
    : TBaseError(operation, message)
{
    SetDetail(detail);
}

void TBaseError::SetDetail(const TAString& detail)
{
    detail_ = detail;
    what_ = DescribeText();
    if (!detail_.IsEmpty()) what_ += " (" + detail_ + ")";
}

TAString TBaseError::DescribeText() const
{
    TAString text;
    if (operation_.Length() > 0) {
        text += "Module:";
        text += operation_;
        text += " ";
    }
    text += "Error:";
    text += message_;
    return text;
}

void TBaseError::Describe(TDescribeSink& sink) const
{
    sink.Put(DescribeText());
}
