#!/usr/bin/env node
// A visitor's path through the running demo in headless Chromium: the home page, a search
// typed into its form, the result list, "Next >>" to the second page, and a result's
// document. Screenshots of each page are kept for a person to look at.
//
// Usage: browser-demo.js --url http://127.0.0.1:PORT/ --screenshots DIR --profile DIR
//                        [--chromium /usr/bin/chromium]
// Exit status 0 when every check passes, 1 otherwise.
'use strict';

const fs = require('fs');
const path = require('path');
const { chromium } = require('playwright-core');

// A word that the demo's pages use often enough for several result pages of PER_PAGE.
const QUERY = 'water';
const PER_PAGE = 5;
// Bounds for a hang only; nothing here measures how fast a page comes.
const STEP_TIMEOUT_MS = 60000;

function options(argv) {
  const result = { chromium: '/usr/bin/chromium' };
  for (let i = 2; i < argv.length; i += 2) {
    const name = argv[i].replace(/^--/, '');
    if (!(name in { url: 1, screenshots: 1, profile: 1, chromium: 1 }) || argv[i + 1] === undefined) {
      throw new Error(`unknown or incomplete option ${argv[i]}`);
    }
    result[name] = argv[i + 1];
  }
  for (const needed of ['url', 'screenshots', 'profile']) {
    if (!result[needed]) throw new Error(`--${needed} is missing`);
  }
  return result;
}

let failures = 0;
function check(condition, what, detail) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}${!condition && detail !== undefined ? `: ${detail}` : ''}`);
  if (!condition) failures++;
  return condition;
}

// A check that the following steps build on: without it they could only wait for a page
// element that is not there.
function need(condition, what, detail) {
  if (!check(condition, what, detail)) throw new Error(`cannot go on: ${what}`);
}

// The paging row and summary line as a visitor sees them.
async function resultPage(page) {
  return page.evaluate(() => {
    const text = document.body.innerText;
    const found = /Found (\d+) Web pages?/.exec(text);
    // The current page is the bold number outside any link in the "Result Pages:" row.
    const current = [...document.querySelectorAll('b')]
      .filter((b) => !b.closest('a') && /^\d+$/.test(b.textContent.trim()))
      .map((b) => Number(b.textContent.trim()));
    const hits = [...document.querySelectorAll('main a.hit-title')]
      .map((a) => ({ href: a.href, title: a.textContent.trim() }));
    return { found: found ? Number(found[1]) : null, current, hits };
  });
}

async function main() {
  const opt = options(process.argv);
  const base = new URL(opt.url);
  fs.rmSync(opt.profile, { recursive: true, force: true });
  fs.mkdirSync(opt.profile, { recursive: true });
  fs.mkdirSync(opt.screenshots, { recursive: true });
  const shot = (page, name) => page.screenshot({ path: path.join(opt.screenshots, name), fullPage: true });

  // A fresh profile each run, and nothing that reaches past loopback on its own.
  const context = await chromium.launchPersistentContext(opt.profile, {
    executablePath: opt.chromium,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1280, height: 900 },
    timeout: STEP_TIMEOUT_MS,
  });
  try {
    context.setDefaultTimeout(STEP_TIMEOUT_MS);
    context.setDefaultNavigationTimeout(STEP_TIMEOUT_MS);
    const offSite = [];
    await context.route('**/*', (route) => {
      const url = new URL(route.request().url());
      if (url.host === base.host) return route.continue();
      offSite.push(url.href);
      return route.abort();
    });
    const page = context.pages()[0] || await context.newPage();
    const scriptErrors = [];
    page.on('pageerror', (error) => scriptErrors.push(error.message));

    // Home page with its search form.
    let response = await page.goto(opt.url, { waitUntil: 'load' });
    check(response && response.status() === 200, 'home page answers 200', response && response.status());
    const form = page.locator('form[action="/cgi-bin/trawlex.exe"]').first();
    const box = form.locator('input[name="Search"]');
    need(await box.isVisible(), 'home page shows the search box');
    await shot(page, '1-home.png');

    // A search typed into the form as a visitor would, with fewer results per page.
    await box.click();
    await page.keyboard.type(QUERY);
    await form.locator('select[name="Count"]').selectOption(String(PER_PAGE));
    [response] = await Promise.all([
      page.waitForNavigation({ waitUntil: 'load' }),
      form.locator('button[type="submit"]').click(),
    ]);
    check(response && response.status() === 200, 'search answers 200', response && response.status());
    const submitted = new URL(page.url());
    check(submitted.pathname === '/cgi-bin/trawlex.exe' && submitted.searchParams.get('Search') === QUERY,
      'the form sent the typed words to the program', page.url());
    const first = await resultPage(page);
    need(first.found !== null && first.found > PER_PAGE,
      `summary line "Found N Web pages" with more than ${PER_PAGE} pages`, first.found);
    check(first.hits.length === PER_PAGE, `first page lists ${PER_PAGE} result links`, first.hits.length);
    check(first.hits.every((hit) => hit.title !== '' && new URL(hit.href).host === base.host),
      'every result link has a title and stays on the site', JSON.stringify(first.hits));
    check(JSON.stringify(first.current) === '[1]', 'page 1 is the bold current page', JSON.stringify(first.current));
    await shot(page, '2-results-page-1.png');
    // The same page at a phone's width, for a person to judge the layout.
    await page.setViewportSize({ width: 390, height: 844 });
    await shot(page, '2-results-page-1-phone.png');
    await page.setViewportSize({ width: 1280, height: 900 });

    // "Next >>" to the second page.
    const next = page.getByRole('link', { name: 'Next >>' });
    need(await next.count() === 1, 'first page has one "Next >>" link', await next.count());
    [response] = await Promise.all([
      page.waitForNavigation({ waitUntil: 'load' }),
      next.first().click(),
    ]);
    check(response && response.status() === 200, 'second page answers 200', response && response.status());
    const second = await resultPage(page);
    check(second.found === first.found, 'second page has the same summary line', second.found);
    check(JSON.stringify(second.current) === '[2]', 'page 2 is the bold current page', JSON.stringify(second.current));
    const expected = Math.min(PER_PAGE, first.found - PER_PAGE);
    check(second.hits.length === expected, `second page lists ${expected} result links`, second.hits.length);
    const firstLinks = new Set(first.hits.map((hit) => hit.href));
    check(second.hits.every((hit) => !firstLinks.has(hit.href)), 'second page lists other results than the first');
    // The results page puts the request's words and count back into its own form.
    const again = page.locator('#search-form');
    check(await again.locator('input[name="Search"]').inputValue() === QUERY, 'search box on page 2 holds the words');
    check(await again.locator('select[name="Count"]').inputValue() === String(PER_PAGE),
      'results per page on page 2 shows the chosen count');
    await shot(page, '3-results-page-2.png');

    // A result opens its document.
    const hit = second.hits[0];
    need(hit !== undefined, 'second page has a result to open');
    [response] = await Promise.all([
      page.waitForNavigation({ waitUntil: 'load' }),
      page.locator('main a.hit-title').first().click(),
    ]);
    check(response && response.status() === 200, 'the result\'s document answers 200', response && response.status());
    check(page.url() === hit.href, 'the browser is at the result\'s address', page.url());
    const title = (await page.title()).trim();
    check(title !== '' && title === hit.title, 'the document\'s title is the result\'s link text',
      `"${title}" against "${hit.title}"`);
    await shot(page, '4-result-document.png');

    check(scriptErrors.length === 0, 'no script errors in the pages', scriptErrors.join('; '));
    check(offSite.length === 0, 'the pages asked for nothing outside the site', offSite.join(' '));
  } finally {
    await context.close();
  }
  console.log(`Screenshots in ${opt.screenshots}`);
  console.log(`${failures === 0 ? 'PASS' : 'FAIL'}: browser demo test, ${failures} failed check(s)`);
  return failures === 0 ? 0 : 1;
}

main().then((code) => { process.exitCode = code; }, (error) => {
  console.error(`FAIL: ${error && error.stack ? error.stack : error}`);
  process.exitCode = 1;
});
