// The page, the reference server and the real launcher under Wine:
//   node launcher_e2e.js <build tree>      (run through launcher_e2e.sh)
// The page produces a nibword: link; the launcher runs it as a browser would
// start it: an unattended cycle (mode "3"), then the user's own (mode "1",
// user-at-word.exe types and presses 保存并关闭). The server must have received
// the launcher's event posts, the open's result and the user's edit, and the
// page must show the document saved.
"use strict";

const { spawn, spawnSync } = require("node:child_process");
const path = require("node:path");
const { ROOT, startServer, launchBrowser } = require("./support");

const build = path.resolve(process.argv[2]);
const prefix = path.join(build, "wineprefix");
const wineRun = path.join(ROOT, "tools", "wine-run");
const registers = ["--register", path.join(build, "NibWordLib.dll"), "--register", path.join(build, "office-double.exe")];
const KEY = "HKLM\\Software\\NibWordLib";

function wine(args) {
  const run = spawnSync(wineRun, ["--prefix", prefix, ...registers, ...args], { encoding: "utf8", timeout: 300000 });
  return run.status;
}

// Runs a Windows program of the tree in the prefix; resolves its exit code.
function program(file, args) {
  return new Promise((resolve) => {
    const child = spawn(wineRun, ["--prefix", prefix, ...registers, path.join(build, file), ...args],
                        { stdio: ["ignore", "inherit", "inherit"], env: { ...process.env, NIB_RUN_LIMIT: "180" } });
    child.on("exit", (code) => resolve(code));
  });
}

// The files the server stored for `doc`, all versions, as one text.
function storedText(server, doc) {
  const fs = require("node:fs");
  const folder = path.join(server.data, "uploads", doc);
  let text = "";
  const walk = (dir) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const full = path.join(dir, entry.name);
      if (entry.isDirectory()) walk(full);
      else text += fs.readFileSync(full, "latin1");
    }
  };
  if (fs.existsSync(folder)) walk(folder);
  return text;
}

// One cycle as the page's user starts it: the page produces the link, the
// launcher runs it (with `typed`, the user types that and presses 保存并关闭
// meanwhile); returns what went wrong.
async function cycle(browser, server, doc, mode, typed) {
  const failures = [];
  const page = await browser.context.newPage();
  await page.goto(`${server.base}/helper-page.html?doc=${doc}&mode=${mode}&timeout=240000`);
  await page.click("#edit");
  await page.waitForFunction(() => document.getElementById("link").href.startsWith("nibword:"), null, { timeout: 10000 });
  const link = await page.$eval("#link", (a) => a.getAttribute("href"));
  console.log(`launcher_e2e: mode ${mode}: link ${link}`);
  const runs = [program("NibWordHost.exe", [link])];
  if (typed) runs.push(program(path.join("tests", "win", "user-at-word.exe"), [typed]));
  const [code, userCode] = await Promise.all(runs);
  console.log(`launcher_e2e: mode ${mode}: NibWordHost.exe exited ${code}` + (typed ? `, user-at-word.exe ${userCode}` : ""));
  const sid = await page.evaluate(() => helper.session.session);
  const state = await (await fetch(`${server.base}/api/sessions/${sid}`)).json();
  const types = state.notices.map((n) => n.type);
  console.log(`launcher_e2e: mode ${mode}: the server was told ` + JSON.stringify(state.notices.map((n) => [n.type, n.data])));
  if (code !== 0) failures.push(`mode ${mode}: the launcher exited ${code}`);
  if (typed && userCode !== 0) failures.push(`mode ${mode}: the user could not press 保存并关闭 (${userCode})`);
  if (!state.jobFetched) failures.push(`mode ${mode}: the job was not fetched`);
  if (!types.includes("event")) failures.push(`mode ${mode}: no event post arrived`);
  if (!types.includes("opened")) failures.push(`mode ${mode}: no result post arrived`);
  if (state.uploads < 1) failures.push(`mode ${mode}: nothing was uploaded`);
  if (typed && !storedText(server, doc).includes(typed)) failures.push(`mode ${mode}: the server does not hold the user's edit`);
  try {
    await page.waitForSelector('#state[data-state="saved"]', { timeout: 5000 });
  } catch (e) {
    failures.push(`mode ${mode}: the page does not show the document saved: ` + (await page.textContent("#state")));
  }
  await page.close();
  return failures;
}

async function main() {
  const body = '<?xml version="1.0" encoding="utf-8"?>\n<nibdoc><text>Body</text></nibdoc>\n';
  const server = await startServer({ e2e: body, clerk: body });
  let browser, failures = [];
  try {
    // The administrator's list: this server's origin (removed again below).
    if (wine(["reg", "add", KEY, "/v", "AllowedOrigins", "/t", "REG_MULTI_SZ", "/d", server.base, "/reg:64", "/f"]) !== 0)
      throw new Error("could not set AllowedOrigins in " + prefix);
    browser = await launchBrowser();
    failures.push(...(await cycle(browser, server, "e2e", "3", "")));
    failures.push(...(await cycle(browser, server, "clerk", "1", "typed-by-the-clerk-" + process.pid)));
  } catch (e) {
    failures.push(e.message);
  } finally {
    wine(["reg", "delete", KEY, "/v", "AllowedOrigins", "/f"]);
    if (browser) await browser.close();
    await server.stop();
  }
  if (failures.length) {
    console.log("launcher_e2e: FAILED: " + failures.join("; "));
    process.exit(1);
  }
  console.log("launcher_e2e: passed");
}

main();
