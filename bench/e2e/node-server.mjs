// The upload handler a Node.js user would write with busboy: each file
// streamed to a file of its own in a folder per request and hashed with
// SHA-256 as it streams; the answer lists the files and the text fields.
//   node node-server.mjs ROOT    listens on a free loopback port, printed first
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import busboy from 'busboy';

const root = process.argv[2];
let requests = 0;

function upload(req, res) {
  const folder = String(++requests);
  fs.mkdirSync(path.join(root, folder));
  const files = [];
  const fields = [];
  const writes = [];
  const form = busboy({ headers: req.headers });
  form.on('file', (name, stream, info) => {
    const saved = `/${folder}/${files.length + 1}-${path.basename(info.filename)}`;
    const file = { name, filename: info.filename, length: 0, sha256: '', saved };
    files.push(file);
    const hash = crypto.createHash('sha256');
    const out = fs.createWriteStream(path.join(root, saved));
    stream.on('data', (chunk) => {
      hash.update(chunk);
      file.length += chunk.length;
    });
    writes.push(new Promise((resolve, reject) => {
      out.on('finish', () => resolve(file.sha256 = hash.digest('hex')));
      out.on('error', reject);
    }));
    stream.pipe(out);
  });
  form.on('field', (name, value) => fields.push({ name, value }));
  form.on('close', () => Promise.all(writes).then(
    () => answer(res, 200, { files, fields }),
    (error) => answer(res, 500, { error: String(error) })));
  form.on('error', (error) => answer(res, 400, { error: String(error) }));
  req.pipe(form);
}

function answer(res, status, document) {
  const body = JSON.stringify(document);
  res.writeHead(status, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(body) });
  res.end(body);
}

const server = http.createServer((req, res) => {
  if (req.method === 'POST') upload(req, res);
  else answer(res, 404, { error: 'not found' });
});
server.listen(0, '127.0.0.1', () => console.log(`node listening on http://127.0.0.1:${server.address().port}/`));
