#include "app/tinternallog.h"

StringList TInternalLog::Lines()
{
    return StringList(TAString(Text()));
}
