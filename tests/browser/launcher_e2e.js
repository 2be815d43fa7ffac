// The page, the reference server and the real launcher under Wine:
//   node launcher_e2e.js <build tree>      (run through launcher_e2e.sh)
// The page produces a nibword: link (unattended mode "3"); the launcher runs it
// as a browser would start it; the server must have received the launcher's
// event post and the open's result, and the page must show the cycle's end.
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

// Runs the launcher on `link`; resolves its exit code.
function launcher(link) {
  return new Promise((resolve) => {
    const child = spawn(wineRun, ["--prefix", prefix, ...registers, path.join(build, "NibWordHost.exe"), link],
                        { stdio: ["ignore", "inherit", "inherit"], env: { ...process.env, NIB_RUN_LIMIT: "180" } });
    child.on("exit", (code) => resolve(code));
  });
}

async function main() {
  const server = await startServer({ e2e: '<?xml version="1.0" encoding="utf-8"?>\n<nibdoc><text>Body</text></nibdoc>\n' });
  let browser, failures = [];
  try {
    // The administrator's list: this server's origin (removed again below).
    if (wine(["reg", "add", KEY, "/v", "AllowedOrigins", "/t", "REG_MULTI_SZ", "/d", server.base, "/reg:64", "/f"]) !== 0)
      throw new Error("could not set AllowedOrigins in " + prefix);
    browser = await launchBrowser();
    const page = await browser.context.newPage();
    await page.goto(`${server.base}/helper-page.html?doc=e2e&mode=3&timeout=240000`);
    await page.click("#edit");
    await page.waitForFunction(() => document.getElementById("link").href.startsWith("nibword:"), null, { timeout: 10000 });
    const link = await page.$eval("#link", (a) => a.getAttribute("href"));
    console.log("launcher_e2e: link " + link);
    const code = await launcher(link);
    console.log("launcher_e2e: NibWordHost.exe exited " + code);
    const sid = await page.evaluate(() => helper.session.session);
    const state = await (await fetch(`${server.base}/api/sessions/${sid}`)).json();
    const types = state.notices.map((n) => n.type);
    console.log("launcher_e2e: the server was told " + JSON.stringify(state.notices.map((n) => [n.type, n.data])));
    if (code !== 0) failures.push("the launcher exited " + code);
    if (!state.jobFetched) failures.push("the job was not fetched");
    if (!types.includes("event")) failures.push("no event post arrived");
    if (!types.includes("opened")) failures.push("no result post arrived");
    if (state.uploads < 1) failures.push("nothing was uploaded");
    try {
      await page.waitForSelector('#state[data-state="saved"]', { timeout: 5000 });
    } catch (e) {
      failures.push("the page does not show the document saved: " + (await page.textContent("#state")));
    }
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
