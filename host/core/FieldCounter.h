// Counts, as a request body streams in, how many fields the form's parser
// will find in it, so that a form past the server's field cap is refused
// before any page reads it.
//
// The parser does not go by the request's Content-Type: it takes the first
// "--" of the body up to the line's end as the boundary, reads the parts
// that follow, and reads the body as URL-encoded pairs when not one part
// comes of it. The counter follows the same reading: the body's own
// boundary, whatever the headers claim, and the '&'s of a body that is not
// multipart. Its count is never below the parser's.
#pragma once

#include <stddef.h>

#include <string>

class FieldCounter {
public:
    // The next bytes of the body.
    void add(const char* data, size_t size);
    // The body has ended: a body still undecided is read as URL-encoded.
    void finish();
    // The most fields the parser can find in what was decided so far: 0
    // while the body may still be read either way (until its first part has
    // ended, or its end).
    long long fields() const;

private:
    enum class Reading { SeekDashes, SeekLineEnd, SeekHeadersEnd, SeekContentEnd, Multipart, UrlEncoded };

    // The first occurrence of `needle` at or after the stream offset `from`
    // in the kept tail and `data` (which starts at mOffset); -1 if none.
    long long find(const std::string& needle, long long from, const char* data, size_t size);
    // One step of the reading over `data`; false when it needs more bytes.
    bool step(const char* data, size_t size);
    void keepTail(const char* data, size_t size);

    Reading mReading = Reading::SeekDashes;
    long long mOffset = 0;      // the stream offset of the bytes being added
    long long mFrom = 0;        // where the current search goes on from
    long long mDashes = 0;      // the offset of the first "--"
    long long mLastEnd = 0;     // the end of the last delimiter counted
    std::string mDelimiter;     // the body's own boundary, its dashes included
    long long mDelimiters = 0;  // delimiters counted, the first included
    long long mAmpersands = 0;  // '&'s, counted until the body is multipart
    std::string mTail;          // the last bytes before mOffset
    std::string mJunction;      // the tail and the start of the next bytes
};
