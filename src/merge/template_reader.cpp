// Reads a message template: subject line, separator line, body.
#include "merge/template_reader.h"

#include "text/file_io.h"
#include "text/line_reader.h"
#include "text/utf8.h"

namespace pinemail {

bool ReadTemplate(const std::string& path, std::string& subject, std::string& body) {
  // A device such as /dev/zero never ends and a FIFO holds the run until
  // something writes to it: only a regular file of a template's size will do.
  // Nothing is written, so a failed close at the end loses nothing.
  const File file = OpenRegularFile(path, kTemplateSizeLimit);
  return file && ReadTemplate(file.get(), subject, body);
}

bool ReadTemplate(std::FILE* file, std::string& subject, std::string& body) {
  // The size was checked at the open, but a file may still grow meanwhile.
  LineReader reader(file, kTemplateSizeLimit);
  std::string line;
  if (!reader.Next(&line)) return false;  // empty file
  subject.assign(CutCodePoints(line, kSubjectLimit));

  if (!reader.Next(&line)) return false;  // one line only: no separator, no body
  // Line 2 is the separator and carries nothing.
  body.clear();
  while (reader.Next(&line)) {
    body += line;
    body += "\r\n";
  }
  // The reader stops at a read error as at the end of the file; a body cut
  // short that way must not be sent as if it were the whole message.
  return std::ferror(file) == 0 && !reader.over_limit();
}

}  // namespace pinemail
