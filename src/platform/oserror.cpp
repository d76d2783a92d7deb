#include "platform/oserror.h"

#include <cerrno>
#include <cstring>

QString osErrorText(int err) {
  switch (err) {
    case ENOENT: return QStringLiteral("нет такого файла или папки");
    case EACCES:
    case EPERM: return QStringLiteral("нет прав доступа");
    case EISDIR: return QStringLiteral("это папка, а не файл");
    case ENOTDIR: return QStringLiteral("часть пути не является папкой");
    case ENOSPC: return QStringLiteral("на диске нет места");
#ifdef EDQUOT
    case EDQUOT: return QStringLiteral("исчерпана дисковая квота");
#endif
    case EROFS: return QStringLiteral("диск доступен только для чтения");
    case EEXIST: return QStringLiteral("файл уже существует");
    case EBUSY:
    case ETXTBSY: return QStringLiteral("файл занят");
    case EIO: return QStringLiteral("ошибка ввода-вывода");
    case ENAMETOOLONG: return QStringLiteral("слишком длинное имя файла");
    case ELOOP: return QStringLiteral("слишком много символьных ссылок в пути");
    case EMFILE:
    case ENFILE: return QStringLiteral("открыто слишком много файлов");
    case EFBIG: return QStringLiteral("файл слишком велик");
    case EAGAIN: return QStringLiteral("ресурс временно недоступен");
    case EINVAL: return QStringLiteral("недопустимый аргумент");
    case ECONNREFUSED: return QStringLiteral("в соединении отказано");
    case ETIMEDOUT: return QStringLiteral("время ожидания истекло");
    case EHOSTUNREACH:
    case ENETUNREACH: return QStringLiteral("узел недоступен");
    default: break;
  }
  return QStringLiteral("системная ошибка %1 (%2)").arg(err).arg(QString::fromLocal8Bit(std::strerror(err)));
}
