#include "platform/oserror.h"

#include "platform/os_reason.h"

QString osErrorText(int err) { return QString::fromStdString(osReason(err)); }
