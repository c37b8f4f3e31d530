// Drives Debian's Chromium through the upload site: a 100 MB file, a small
// PNG and a PNG whose name is markup, with a live progress bar, then the
// results page; the saved files must equal what was sent, and nothing a
// client named may run in the page.
//   node upload-site.mjs SITE_URL DOCUMENT_ROOT PNG_FILE ARTIFACTS_DIR
import {chromium} from 'playwright-core';
import {createHash, randomBytes} from 'node:crypto';
import {copyFileSync, createReadStream, mkdirSync, openSync, writeSync, closeSync} from 'node:fs';
import {join} from 'node:path';
import {tmpdir} from 'node:os';

const [siteUrl, documentRoot, pngFile, artifacts] = process.argv.slice(2);
mkdirSync(artifacts, {recursive: true});

function fail(message) {
  console.error('FAIL: ' + message);
  process.exitCode = 1;
}

async function sha256(path) {
  const hash = createHash('sha256');
  for await (const chunk of createReadStream(path)) hash.update(chunk);
  return hash.digest('hex');
}

// 100 MB of random bytes, written in 1 MB blocks.
const bigFile = join(tmpdir(), `site-e2e-${process.pid}.bin`);
const fd = openSync(bigFile, 'w');
for (let i = 0; i < 100; ++i) writeSync(fd, randomBytes(1 << 20));
closeSync(fd);
// A picture whose name would run script if a page echoed it as markup.
const markupDir = join(tmpdir(), `site-e2e-${process.pid}`);
mkdirSync(markupDir, {recursive: true});
const markupName = '<img src=x onerror=alert(1)>.png';
const markupFile = join(markupDir, markupName);
copyFileSync(pngFile, markupFile);

const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
try {
  const page = await browser.newPage({viewport: {width: 1100, height: 900}});
  page.on('dialog', async (dialog) => {
    fail('a dialog opened: ' + dialog.message());
    await dialog.dismiss();
  });
  // About two seconds of upload, so that the bar can be seen moving.
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Network.enable');
  await cdp.send('Network.emulateNetworkConditions',
                 {offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: 50 * 1024 * 1024});

  await page.goto(siteUrl + '/upload');
  await page.fill('input[name=name]', 'Ann Example');
  await page.fill('textarea[name=comment]', 'Two files & a comment');
  await page.selectOption('select[name=topics]', ['Photos', 'Music']);
  await page.setInputFiles('input[name=file1]', bigFile);
  await page.setInputFiles('input[name=file2]', pngFile);
  await page.setInputFiles('input[name=more]', markupFile);
  await page.click('button[type=submit]');

  // Follow the bar until the results page replaces the form.
  const seen = [];
  let shot = false;
  for (let i = 0; i < 600; ++i) {
    const state = await page.evaluate(() => {
      const bar = document.getElementById('bar');
      return {bar: bar ? bar.value : null, done: document.title === 'Upload received'};
    }).catch(() => ({bar: null, done: false}));
    if (state.done) break;
    if (state.bar !== null && seen[seen.length - 1] !== state.bar) seen.push(state.bar);
    if (!shot && state.bar > 20 && state.bar < 90) {
      await page.screenshot({path: join(artifacts, 'site-progress.png')});
      shot = true;
    }
    await page.waitForTimeout(50);
  }
  await page.waitForFunction(() => document.title === 'Upload received', null, {timeout: 60000});
  await page.screenshot({path: join(artifacts, 'site-results.png'), fullPage: true});
  console.log('progress bar values: ' + seen.join(' '));
  const between = seen.filter((value) => value > 0 && value < 100);
  if (between.length < 2) fail('the progress bar did not move while the upload ran: ' + seen.join(' '));
  for (let i = 1; i < seen.length; ++i) if (seen[i] < seen[i - 1]) fail('the progress bar went back: ' + seen.join(' '));

  const text = await page.textContent('body');
  if (!text.includes('PNG, 35 × 27')) fail('the results do not show the PNG type and size');
  if (!text.includes('Ann Example')) fail('the results do not show the name field');
  if (!text.includes(markupName)) fail('the results do not show the markup file name as text');
  if (await page.$('img[src=x]')) fail('a file name became markup in the results');
  const links = await page.$$eval('a[href^="/uploads/"]', (anchors) => anchors.map((a) => a.getAttribute('href')));
  if (links.length !== 3) fail('expected three saved files, got ' + links.length);
  const sent = [await sha256(bigFile), await sha256(pngFile), await sha256(pngFile)];
  for (let i = 0; i < links.length; ++i) {
    const saved = await sha256(join(documentRoot, decodeURIComponent(links[i])));
    if (saved !== sent[i]) fail(`${links[i]} differs from the file sent`);
  }
  // The saved file is also served back by the site.
  const served = await page.request.get(siteUrl + links[1]);
  const servedHash = createHash('sha256').update(await served.body()).digest('hex');
  if (servedHash !== sent[1]) fail('the saved PNG served by the site differs from the file sent');
  console.log(process.exitCode ? 'site e2e failed' : 'site e2e passed');
} finally {
  await browser.close();
  (await import('node:fs')).rmSync(bigFile, {force: true});
  (await import('node:fs')).rmSync(markupDir, {recursive: true, force: true});
}
