#include "platform/file_size.h"

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace ostrand {

int64_t FileSize(FILE* stream) {
#ifdef _WIN32
  if (_fseeki64(stream, 0, SEEK_END) != 0) return -1;
  int64_t size = _ftelli64(stream);
  if (_fseeki64(stream, 0, SEEK_SET) != 0) return -1;
#else
  if (fseeko(stream, 0, SEEK_END) != 0) return -1;
  int64_t size = static_cast<int64_t>(ftello(stream));
  if (fseeko(stream, 0, SEEK_SET) != 0) return -1;
#endif
  return size;
}

}  // namespace ostrand
