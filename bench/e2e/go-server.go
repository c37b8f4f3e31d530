// The upload handler a Go user would write with net/http's MultipartReader:
// each file streamed to a file of its own in a folder per request and hashed
// with SHA-256 on the way (io.MultiWriter); the answer lists the files and
// the text fields.
//   go-server ROOT    listens on a free loopback port, printed first
package main

import (
	"crypto/sha256"
	"encoding/hex"
	"encoding/json"
	"fmt"
	"io"
	"net"
	"net/http"
	"os"
	"path/filepath"
	"strconv"
	"sync/atomic"
)

type file struct {
	Name     string `json:"name"`
	Filename string `json:"filename"`
	Length   int64  `json:"length"`
	Sha256   string `json:"sha256"`
	Saved    string `json:"saved"`
}

type field struct {
	Name  string `json:"name"`
	Value string `json:"value"`
}

var root string
var requests int64

func answer(w http.ResponseWriter, status int, document interface{}) {
	body, _ := json.Marshal(document)
	w.Header().Set("Content-Type", "application/json")
	w.Header().Set("Content-Length", strconv.Itoa(len(body)))
	w.WriteHeader(status)
	w.Write(body)
}

func fail(w http.ResponseWriter, status int, err error) {
	answer(w, status, map[string]string{"error": err.Error()})
}

func upload(w http.ResponseWriter, r *http.Request) {
	reader, err := r.MultipartReader()
	if err != nil {
		fail(w, http.StatusBadRequest, err)
		return
	}
	folder := "/" + strconv.FormatInt(atomic.AddInt64(&requests, 1), 10)
	if err := os.Mkdir(filepath.Join(root, folder), 0755); err != nil {
		fail(w, http.StatusInternalServerError, err)
		return
	}
	files, fields := []file{}, []field{}
	for {
		part, err := reader.NextPart()
		if err == io.EOF {
			break
		}
		if err != nil {
			fail(w, http.StatusBadRequest, err)
			return
		}
		if part.FileName() == "" {
			value, err := io.ReadAll(io.LimitReader(part, 1<<20))
			if err != nil {
				fail(w, http.StatusBadRequest, err)
				return
			}
			fields = append(fields, field{part.FormName(), string(value)})
			continue
		}
		saved := fmt.Sprintf("%s/%d-%s", folder, len(files)+1, filepath.Base(part.FileName()))
		out, err := os.Create(filepath.Join(root, saved))
		if err != nil {
			fail(w, http.StatusInternalServerError, err)
			return
		}
		hash := sha256.New()
		length, err := io.Copy(io.MultiWriter(out, hash), part)
		if closeErr := out.Close(); err == nil {
			err = closeErr
		}
		if err != nil {
			fail(w, http.StatusBadRequest, err)
			return
		}
		files = append(files, file{part.FormName(), part.FileName(), length, hex.EncodeToString(hash.Sum(nil)), saved})
	}
	answer(w, http.StatusOK, map[string]interface{}{"files": files, "fields": fields})
}

func main() {
	root = os.Args[1]
	listener, err := net.Listen("tcp", "127.0.0.1:0")
	if err != nil {
		panic(err)
	}
	fmt.Printf("go listening on http://%s/\n", listener.Addr())
	http.HandleFunc("/upload", upload)
	panic(http.Serve(listener, nil))
}
