// One header line as the writer builds it: words with folds between them so
// that lines stay within 78 characters, and non-ASCII text as RFC 2047
// encoded-words of whole characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pinemail {

// The longest header line written (RFC 5322 2.1.1's recommended limit).
inline constexpr std::size_t kMaxHeaderLine = 78;

// A header written as a sequence of words after "Name:"; between two words
// the line may be folded (the line end and one blank).
class HeaderLine {
 public:
  // Starts the header `name` in `out`; its lines end in `line_end`.
  HeaderLine(std::string* out, std::string_view line_end, std::string_view name);

  // Room left for a word that follows a blank on the current line.
  std::size_t Room() const;
  // Room for a word that follows a blank on a fresh continuation line.
  static constexpr std::size_t FreshRoom() { return kMaxHeaderLine - 1; }

  // Appends a blank and `word`, folding first when the word does not fit and
  // a fold would make room.
  void AddWord(std::string_view word);
  // Appends text that begins with its own white space (unstructured text
  // kept as written); folding before it leaves the unfolded value unchanged.
  void AddSpacedRun(std::string_view run);
  // Appends `text` (valid UTF-8) as encoded-words of whole characters, each
  // filling the room left on its line (at most 75 characters).
  void AddEncodedText(std::string_view text);
  // Appends `text` (valid UTF-8) in as few encoded-words as the
  // 75-character limit allows, each as long as whole characters make it,
  // with folds between them.
  void AddFewestEncodedWords(std::string_view text);
  // Appends text made of words separated by runs of blanks, folding only
  // before a blank of the text, so that unfolding gives the text back.
  // FitsFolded tells whether every piece can stand on a line.
  void AddFoldableText(std::string_view text);
  // True when AddFoldableText can write `text` within the line limit: each
  // run of blanks with the word after it fits on a continuation line, and
  // the first word fits in `first_room`.
  static bool FitsFolded(std::string_view text, std::size_t first_room);

  // Ends the header's last line.
  void End();

 private:
  void Fold();

  std::string* out_;
  std::string_view line_end_;
  std::size_t column_ = 0;
  // False on a fresh continuation line, where folding again gains nothing.
  bool can_fold_ = true;
};

}  // namespace pinemail
