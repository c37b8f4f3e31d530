/* Added to Duktape's configuration: a long string made by concatenation
 * keeps its bytes in a growable buffer that the strings appended onto it
 * share, so that building a string piece by piece is linear (the code is in
 * duktape.patch, beside this file). The buffers are external string data:
 * the string table takes a concatenation's buffer as the new string's bytes,
 * and a string that goes gives its buffer back. */
#ifndef FORMIX4_STRING_BUFFERS_H
#define FORMIX4_STRING_BUFFERS_H

#define DUK_USE_HSTRING_EXTDATA
#define DUK_USE_EXTSTR_INTERN_CHECK(udata, ptr, len) duk_strbuf_claim((ptr), (len))
#define DUK_USE_EXTSTR_FREE(udata, ptr) duk_strbuf_release((ptr))

#endif
