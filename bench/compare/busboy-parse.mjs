// Parses a body file with busboy, fed in 64 KB chunks from memory; prints
// the best of three runs in MB/s and the file bytes seen.
//   node busboy-parse.mjs BODY_FILE BOUNDARY
import busboy from 'busboy';
import {readFileSync} from 'node:fs';

const [file, boundary] = process.argv.slice(2);
const body = readFileSync(file);

function parseOnce() {
  return new Promise((resolve, reject) => {
    let bytes = 0;
    const parser = busboy({headers: {'content-type': 'multipart/form-data; boundary=' + boundary},
                           limits: {fileSize: Infinity}});
    parser.on('file', (name, stream) => stream.on('data', (chunk) => { bytes += chunk.length; }));
    parser.on('close', () => resolve(bytes));
    parser.on('error', reject);
    for (let at = 0; at < body.length; at += 65536) parser.write(body.subarray(at, at + 65536));
    parser.end();
  });
}

let best = Infinity;
let bytes = 0;
for (let round = 0; round < 3; ++round) {
  const start = process.hrtime.bigint();
  bytes = await parseOnce();
  best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e9);
}
console.log(`${(body.length / 1048576 / best).toFixed(1)} ${bytes}`);
