// The ceiling of the end-to-end benchmark: about the least a server can do to
// take an upload over loopback and keep its files. A thread per connection
// reads one request's head and its Content-Length body into a 1 MB buffer and
// writes each file's bytes to a file of its own in a folder per request; with
// --sha256 it also hashes each file as it writes it (OpenSSL). Text fields
// are kept in memory. Parts are found with memmem: the buffer is searched for
// "\r\n--BOUNDARY", and the bytes at its end that could begin that delimiter
// stay in the buffer for the next read; a part's headers must be whole in the
// buffer, which holds 1 MB. It answers {"files": [{"name", "filename",
// "length", "sha256", "saved"}], "fields": [{"name", "value"}]} ("sha256"
// empty without --sha256) and closes the connection. With --sync each file is
// on the disk (fdatasync) before the answer names it, as the site promises.
//   e2e_ceiling ROOT [--sha256] [--sync]    listens on a free loopback port, printed first
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

enum { BUFFER = 1 << 20 };

static const char* root;
static int hashing, syncing;
static atomic_long requests;

struct text {
    char* data;
    size_t size, capacity;
};

static void append(struct text* t, const char* data, size_t size) {
    if (t->size + size + 1 > t->capacity) {
        t->capacity = (t->size + size + 1) * 2;
        t->data = realloc(t->data, t->capacity);
    }
    memcpy(t->data + t->size, data, size);
    t->size += size;
    t->data[t->size] = 0;
}

static void append_string(struct text* t, const char* s) { append(t, s, strlen(s)); }

// A JSON string of the bytes: runs of plain bytes copied whole, the rest escaped.
static void append_json(struct text* t, const char* data, size_t size) {
    append(t, "\"", 1);
    for (size_t i = 0; i < size;) {
        size_t run = i;
        while (run < size && data[run] != '"' && data[run] != '\\' && (unsigned char)data[run] >= 0x20) ++run;
        append(t, data + i, run - i);
        if (run == size) break;
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04x", (unsigned char)data[run]);
        append_string(t, escape);
        i = run + 1;
    }
    append(t, "\"", 1);
}

// The quoted value after `key` in a part's headers, into `out`.
static void disposition(const char* head, size_t size, const char* key, char* out, size_t capacity) {
    out[0] = 0;
    const char* at = memmem(head, size, key, strlen(key));
    if (!at) return;
    at += strlen(key);
    const char* end = memchr(at, '"', (size_t)(head + size - at));
    if (!end || (size_t)(end - at) >= capacity) return;
    memcpy(out, at, (size_t)(end - at));
    out[end - at] = 0;
}

struct request {
    int socket;
    char* buffer;
    size_t start, end;  // the unprocessed bytes: buffer[start, end)
    long long left;     // body bytes not yet read
};

// Moves the unprocessed bytes to the front and reads more of the body; 0 at
// its end or on an error.
static int fill(struct request* r) {
    memmove(r->buffer, r->buffer + r->start, r->end - r->start);
    r->end -= r->start;
    r->start = 0;
    size_t room = BUFFER - r->end;
    if (r->left == 0 || room == 0) return 0;
    if ((long long)room > r->left) room = (size_t)r->left;
    const ssize_t n = read(r->socket, r->buffer + r->end, room);
    if (n <= 0) return 0;
    r->end += (size_t)n;
    r->left -= n;
    return 1;
}

// Sends the answer as its pieces are, without gathering them first.
static void answer(int socket, const char* status, struct iovec* pieces, int count) {
    size_t size = 0;
    for (int i = 1; i < count; ++i) size += pieces[i].iov_len;
    char head[256];
    pieces[0].iov_base = head;
    pieces[0].iov_len = (size_t)snprintf(head, sizeof head,
                                         "HTTP/1.1 %s\r\nContent-Type: application/json\r\n"
                                         "Content-Length: %zu\r\nConnection: close\r\n\r\n",
                                         status, size);
    while (count > 0) {
        ssize_t sent = writev(socket, pieces, count);
        if (sent <= 0) return;
        for (; count > 0 && (size_t)sent >= pieces->iov_len; --count, ++pieces) sent -= (ssize_t)pieces->iov_len;
        if (count > 0) pieces->iov_base = (char*)pieces->iov_base + sent, pieces->iov_len -= (size_t)sent;
    }
}

// Reads the form; 0 when it is not a whole multipart body.
static int receive(struct request* r, struct text* files, struct text* fields) {
    char* head_end;
    while (!(head_end = memmem(r->buffer, r->end, "\r\n\r\n", 4))) {
        const ssize_t n = read(r->socket, r->buffer + r->end, BUFFER - r->end - 1);
        if (r->end == BUFFER - 1 || n <= 0) return 0;
        r->end += (size_t)n;
    }
    head_end[2] = 0;  // the head as a string, its last line ending
    const char* length = strcasestr(r->buffer, "\r\nContent-Length:");
    const char* boundary = strstr(r->buffer, "boundary=");
    if (!length || !boundary) return 0;
    char delimiter[256] = "\r\n--";
    const size_t boundary_size = strcspn(boundary + 9, "\r\n;");
    if (boundary_size == 0 || boundary_size > 200) return 0;
    memcpy(delimiter + 4, boundary + 9, boundary_size);
    const size_t size = 4 + boundary_size;
    r->start = (size_t)(head_end + 4 - r->buffer);
    r->left = atoll(length + 17) - (long long)(r->end - r->start);

    char folder[4096];
    snprintf(folder, sizeof folder, "/%ld", atomic_fetch_add(&requests, 1) + 1);
    char path[8192];
    snprintf(path, sizeof path, "%s%s", root, folder);
    if (mkdir(path, 0755) != 0) return 0;
    // The body begins with the delimiter less its line break.
    while (r->end - r->start < size - 2)
        if (!fill(r)) return 0;
    if (memcmp(r->buffer + r->start, delimiter + 2, size - 2) != 0) return 0;
    r->start += size - 2;
    for (int number = 1;; ++number) {
        while (r->end - r->start < 2)
            if (!fill(r)) return 0;
        if (memcmp(r->buffer + r->start, "--", 2) == 0) return 1;
        r->start += 2;
        char* headers_end;
        while (!(headers_end = memmem(r->buffer + r->start, r->end - r->start, "\r\n\r\n", 4)))
            if (!fill(r)) return 0;
        char name[256], filename[256];
        const size_t headers_size = (size_t)(headers_end - (r->buffer + r->start));
        disposition(r->buffer + r->start, headers_size, "; name=\"", name, sizeof name);
        disposition(r->buffer + r->start, headers_size, "; filename=\"", filename, sizeof filename);
        const int is_file = memmem(r->buffer + r->start, headers_size, "; filename=\"", 12) != NULL;
        r->start += headers_size + 4;
        int out = -1;
        EVP_MD_CTX* sha = NULL;
        struct text value = {0};
        long long bytes = 0;
        const char* base = strrchr(filename, '/') ? strrchr(filename, '/') + 1 : filename;
        if (is_file) {
            snprintf(path, sizeof path, "%s%s/%d-%s", root, folder, number, base);
            out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0) return 0;
            if (hashing) sha = EVP_MD_CTX_new(), EVP_DigestInit_ex(sha, EVP_sha256(), NULL);
        }
        for (;;) {
            const char* found = memmem(r->buffer + r->start, r->end - r->start, delimiter, size);
            size_t take = found ? (size_t)(found - (r->buffer + r->start))
                                : (r->end - r->start > size - 1 ? r->end - r->start - (size - 1) : 0);
            const char* data = r->buffer + r->start;
            if (is_file) {
                for (size_t done = 0; done < take;) {
                    const ssize_t w = write(out, data + done, take - done);
                    if (w <= 0) return 0;
                    done += (size_t)w;
                }
                if (sha) EVP_DigestUpdate(sha, data, take);
            } else {
                append(&value, data, take);
            }
            bytes += (long long)take;
            r->start += take;
            if (found) break;
            if (!fill(r)) return 0;
        }
        r->start += size;
        if (is_file) {
            char hex[65] = "";
            if (sha) {
                unsigned char digest[32];
                EVP_DigestFinal_ex(sha, digest, NULL);
                EVP_MD_CTX_free(sha);
                for (int i = 0; i < 32; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
            }
            const int synced = !syncing || fdatasync(out) == 0;
            close(out);
            if (!synced) return 0;
            char entry[1024];
            append_string(files, files->size ? ", {\"name\": " : "{\"name\": ");
            append_json(files, name, strlen(name));
            append_string(files, ", \"filename\": ");
            append_json(files, filename, strlen(filename));
            snprintf(entry, sizeof entry, ", \"length\": %lld, \"sha256\": \"%s\", \"saved\": ", bytes, hex);
            append_string(files, entry);
            snprintf(path, sizeof path, "%s/%d-%s", folder, number, base);
            append_json(files, path, strlen(path));
            append_string(files, "}");
        } else {
            append_string(fields, fields->size ? ", {\"name\": " : "{\"name\": ");
            append_json(fields, name, strlen(name));
            append_string(fields, ", \"value\": ");
            append_json(fields, value.data ? value.data : "", value.size);
            append_string(fields, "}");
            free(value.data);
        }
    }
}

#define LITERAL(text) \
    { (void*)(text), sizeof(text) - 1 }

static void* serve(void* argument) {
    struct request r = {.socket = (int)(intptr_t)argument, .buffer = malloc(BUFFER)};
    struct text files = {0}, fields = {0};
    if (receive(&r, &files, &fields)) {
        struct iovec pieces[] = {{0},
                                 LITERAL("{\"files\": ["),
                                 {files.data, files.size},
                                 LITERAL("], \"fields\": ["),
                                 {fields.data, fields.size},
                                 LITERAL("]}")};
        answer(r.socket, "200 OK", pieces, 6);
    } else {
        struct iovec pieces[] = {{0}, LITERAL("{\"error\": \"not a whole multipart form\"}")};
        answer(r.socket, "400 Bad Request", pieces, 2);
    }
    close(r.socket);
    free(r.buffer);
    free(files.data);
    free(fields.data);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: e2e_ceiling ROOT [--sha256] [--sync]\n");
        return 2;
    }
    root = argv[1];
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--sha256") == 0)
            hashing = 1;
        else if (strcmp(argv[i], "--sync") == 0)
            syncing = 1;
        else
            return fprintf(stderr, "e2e_ceiling: unknown option %s\n", argv[i]), 2;
    }
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {.sin_family = AF_INET, .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    socklen_t length = sizeof address;
    if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0 || listen(listener, 1024) != 0) return 1;
    getsockname(listener, (struct sockaddr*)&address, &length);
    printf("e2e_ceiling listening on http://127.0.0.1:%d/\n", ntohs(address.sin_port));
    fflush(stdout);
    for (;;) {
        const int connection = accept(listener, NULL, NULL);
        if (connection < 0) continue;
        pthread_t thread;
        pthread_create(&thread, NULL, serve, (void*)(intptr_t)connection);
        pthread_detach(thread);
    }
}
