// Drives Debian's Chromium through a classic page saved in code page 1252:
// the browser must show its text as written (the answer is labelled with
// the code page its bytes are in) and post a form in it that the page reads
// back unchanged.
//   node classic-pages.mjs SITE_URL DOCUMENT_ROOT ARTIFACTS_DIR
import {chromium} from 'playwright-core';
import {mkdirSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';

const [siteUrl, documentRoot, artifacts] = process.argv.slice(2);
mkdirSync(artifacts, {recursive: true});

function fail(message) {
  console.error('FAIL: ' + message);
  process.exitCode = 1;
}

// The page's bytes as an editor of the time saved them: é is E9, € is 80.
const page1252 = Buffer.concat([
  Buffer.from('<%@ Language="JScript" CodePage=1252 %>\r\n<!DOCTYPE html>\r\n<html><head><title>Caf'),
  Buffer.from([0xE9]),
  Buffer.from('</title></head><body>\r\n<p id="text">Caf'),
  Buffer.from([0xE9, 0x20, 0x80]),
  Buffer.from(' <%= "\\u00FC" %></p>\r\n<form method="post" action="codepage.asp"><input name="who">' +
              '<button type="submit">Send</button></form>\r\n<p id="echo"><% var who = Request.Form("who");' +
              ' if (who.Count) Response.Write(Server.HTMLEncode(String(who))); %></p>\r\n</body></html>\r\n'),
]);
writeFileSync(join(documentRoot, 'codepage.asp'), page1252);

const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
try {
  const page = await browser.newPage();
  const answer = await page.goto(siteUrl + '/codepage.asp');
  const type = answer.headers()['content-type'];
  if (type !== 'text/html; charset=windows-1252') fail('the answer is labelled ' + type);
  if (await page.title() !== 'Café') fail('the title reads ' + await page.title());
  const text = await page.textContent('#text');
  if (text !== 'Café € ü') fail('the text reads ' + text);
  await page.fill('input[name=who]', 'Jürgen € Ærø');
  await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
  const echo = await page.textContent('#echo');
  if (echo !== 'Jürgen € Ærø') fail('the posted name came back as ' + echo);
  await page.screenshot({path: join(artifacts, 'classic-page-1252.png')});
  console.log(process.exitCode ? 'classic pages e2e failed' : 'classic pages e2e passed');
} finally {
  await browser.close();
}
