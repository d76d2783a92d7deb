#include "platform/os_reason.h"

#include <cerrno>
#include <cstring>

std::string osReason(int err) {
  switch (err) {
    case ENOENT: return "нет такого файла или папки";
    case EACCES:
    case EPERM: return "нет прав доступа";
    case EISDIR: return "это папка, а не файл";
    case ENOTDIR: return "часть пути не является папкой";
    case ENOSPC: return "на диске нет места";
#ifdef EDQUOT
    case EDQUOT: return "исчерпана дисковая квота";
#endif
    case EROFS: return "диск доступен только для чтения";
    case EEXIST: return "файл уже существует";
    case EXDEV: return "новое имя находится на другом диске или в другой точке монтирования";
    case EBUSY:
    case ETXTBSY: return "файл занят";
    case EIO: return "ошибка ввода-вывода";
    case ENAMETOOLONG: return "слишком длинное имя файла";
    case ELOOP: return "слишком много символьных ссылок в пути";
    case EMFILE:
    case ENFILE: return "открыто слишком много файлов";
    case EFBIG: return "файл слишком велик";
    case EAGAIN: return "ресурс временно недоступен";
    case EINVAL: return "недопустимый аргумент";
    case ECONNREFUSED: return "в соединении отказано";
    case ETIMEDOUT: return "время ожидания истекло";
    case EHOSTUNREACH:
    case ENETUNREACH: return "узел недоступен";
    default: break;
  }
  // The system's own wording only when it is plain ASCII: in a locale that
  // is not UTF-8 it could break the UTF-8 of the whole message.
  std::string text = "системная ошибка " + std::to_string(err);
  const char* sys = std::strerror(err);
  bool ascii = true;
  for (const char* p = sys; *p; ++p) ascii = ascii && static_cast<unsigned char>(*p) < 0x80;
  if (ascii) text += std::string(" (") + sys + ")";
  return text;
}
