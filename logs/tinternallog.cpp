#include "logs/tinternallog.h"

#include "logs/tcanlogreader.h"

StringList TInternalLog::Lines()
{
    return StringList(TAString(Text()));
}

const TCanLog& TInternalLog::Log()
{
    static const TCanLog log = TCanLogReader::Parse(Text());
    return log;
}
