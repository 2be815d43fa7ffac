// The page, a reference server and the real launcher under Wine:
//   node launcher_e2e.js <build tree>      (run through launcher_e2e.sh; NIB_SERVER chooses the server)
// The page produces a nibword: link; the launcher runs it as a browser would
// start it: an unattended cycle (mode "3"), the user's own (mode "1",
// user-at-word.exe types and presses 保存并关闭), and an unattended cycle whose
// uploads a gateway in front of the server refuses twice (an error status,
// then a login page with 200) before the user's second 关闭 → 是 gets through.
// Documents have Chinese names: the server must store the archive's GBK names
// as they are. The page must be told each failure and see the document saved
// only once it is.
"use strict";

const { spawn, spawnSync } = require("node:child_process");
const fs = require("node:fs");
const http = require("node:http");
const path = require("node:path");
const { ROOT, SERVER_KIND, startServer, launchBrowser, filesUnder } = require("./support");

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

// What stands between the launcher and the server, as a login gateway would:
// passes every request on (the Host kept, so the job's addresses lead here
// again) except the uploads it is told to refuse, which it answers itself.
async function startGateway(server) {
  const target = new URL(server.base);
  const gateway = { refusals: [], refused: 0, passed: 0 };
  const proxy = http.createServer((req, res) => {
    if (req.method === "POST" && req.url.startsWith("/nib/up")) {
      const refusal = gateway.refusals.shift();
      if (refusal) {
        gateway.refused++;
        req.resume();
        req.on("end", () => res.writeHead(refusal.status, { "Content-Type": "text/html; charset=utf-8" }).end(refusal.body));
        return;
      }
      gateway.passed++;
    }
    const forward = http.request({ host: target.hostname, port: target.port, method: req.method, path: req.url, headers: req.headers },
                                 (reply) => { res.writeHead(reply.statusCode, reply.headers); reply.pipe(res); });
    forward.on("error", (e) => { res.writeHead(502).end("gateway: " + e.message); });
    req.pipe(forward);
  });
  await new Promise((resolve) => proxy.listen(0, "127.0.0.1", resolve));
  gateway.base = `http://127.0.0.1:${proxy.address().port}`;
  gateway.stop = () => new Promise((resolve) => { proxy.closeAllConnections(); proxy.close(resolve); });
  return gateway;
}

// One cycle as the page's user starts it: the page produces the link, the
// launcher runs it; meanwhile the user, with `typed`, types that and presses
// 保存并关闭, or with `retries`, presses 关闭 → 是 after each refusal. Returns
// what went wrong.
async function cycle(browser, server, gateway, doc, mode, { typed = "", retries = 0 } = {}) {
  const failures = [];
  const page = await browser.context.newPage();
  await page.goto(`${gateway.base}/helper-page.html?doc=${encodeURIComponent(doc)}&mode=${mode}&timeout=240000`);
  await page.click("#edit");
  await page.waitForFunction(() => document.getElementById("link").href.startsWith("nibword:"), null, { timeout: 10000 });
  const link = await page.$eval("#link", (a) => a.getAttribute("href"));
  console.log(`launcher_e2e: mode ${mode}: link ${link}`);
  const runs = [program("NibWordHost.exe", [link])];
  const user = typed ? [typed] : retries ? ["--retry", String(retries)] : null;
  if (user) runs.push(program(path.join("tests", "win", "user-at-word.exe"), user));
  const [code, userCode] = await Promise.all(runs);
  console.log(`launcher_e2e: mode ${mode}: NibWordHost.exe exited ${code}` + (user ? `, user-at-word.exe ${userCode}` : ""));
  const sid = await page.evaluate(() => helper.session.session);
  const state = await (await fetch(`${server.base}/api/sessions/${sid}`)).json();
  const types = state.notices.map((n) => n.type);
  console.log(`launcher_e2e: mode ${mode}: the server was told ` + JSON.stringify(state.notices.map((n) => [n.type, n.data])));
  if (code !== 0) failures.push(`mode ${mode}: the launcher exited ${code}`);
  if (user && userCode !== 0) failures.push(`mode ${mode}: the user could not do their part (${userCode})`);
  if (!state.jobFetched) failures.push(`mode ${mode}: the job was not fetched`);
  if (!types.includes("event")) failures.push(`mode ${mode}: no event post arrived`);
  if (!types.includes("opened")) failures.push(`mode ${mode}: no result post arrived`);
  if (state.uploads !== 1) failures.push(`mode ${mode}: ${state.uploads} uploads stored, not one`);
  if (typed && !storedText(server, doc).includes(typed)) failures.push(`mode ${mode}: the server does not hold the user's edit`);
  failures.push(...storedNames(server, doc).map((m) => `mode ${mode}: ${m}`));
  if (retries) failures.push(...toldOfRefusals(state, gateway, retries).map((m) => `mode ${mode}: ${m}`));
  try {
    await page.waitForSelector('#state[data-state="saved"]', { timeout: 5000 });
  } catch (e) {
    failures.push(`mode ${mode}: the page does not show the document saved: ` + (await page.textContent("#state")));
  }
  await page.close();
  return failures;
}

// The archive's entries arrive under the document's Chinese name (GBK in the
// archive, decoded by the server), the document's own page among them.
function storedNames(server, doc) {
  const names = filesUnder(path.join(server.data, "uploads", doc));
  const meta = names.filter((n) => n.endsWith("/upload.json"));
  if (meta.length !== 1) return [`the server holds ${meta.length} versions: ${names.join(", ")}`];
  const version = meta[0].split("/")[0];
  const entries = JSON.parse(fs.readFileSync(path.join(server.data, "uploads", doc, meta[0]), "utf8")).entries.map((e) => e.name);
  const failures = [];
  if (!entries.some((n) => n.startsWith(doc + "."))) failures.push(`no entry is named after ${doc}: ${entries.join(", ")}`);
  for (const name of entries) if (!names.includes(`${version}/${name.replace(/\\/g, "/")}`)) failures.push(`entry ${name} is not stored as such`);
  return failures;
}

// Each refusal reached the page as a failure that keeps the cycle, nothing
// was stored or told saved before the last retry, and that one was.
function toldOfRefusals(state, gateway, retries) {
  const failures = [];
  if (gateway.refused !== retries) failures.push(`the gateway refused ${gateway.refused} uploads, not ${retries}`);
  if (gateway.passed !== 1) failures.push(`${gateway.passed} uploads passed the gateway, not one`);
  const types = state.notices.map((n) => n.type);
  const failed = state.notices.findIndex((n) => n.type === "failed" && n.data.retry === true);
  if (failed < 0) failures.push("the page was not told the unattended upload failed (retry: true)");
  const early = types.slice(0, Math.max(failed, 0)).filter((t) => t === "saved" || t === "uploaded");
  if (early.length) failures.push(`the page heard ${early.join(", ")} before the refusal`);
  if (state.state !== "saved") failures.push(`the cycle ends ${state.state}, not saved`);
  return failures;
}

async function main() {
  const body = '<?xml version="1.0" encoding="utf-8"?>\n<nibdoc><text>Body</text></nibdoc>\n';
  const documents = { "公文": body, "通知二": body, "退回重传": body };
  const server = await startServer(documents);
  const gateway = await startGateway(server);
  console.log(`launcher_e2e: the ${SERVER_KIND} server at ${server.base}, behind ${gateway.base}`);
  let browser, failures = [];
  try {
    // The administrator's list: the gateway's origin (removed again below).
    if (wine(["reg", "add", KEY, "/v", "AllowedOrigins", "/t", "REG_MULTI_SZ", "/d", gateway.base, "/reg:64", "/f"]) !== 0)
      throw new Error("could not set AllowedOrigins in " + prefix);
    browser = await launchBrowser();
    failures.push(...(await cycle(browser, server, gateway, "公文", "3")));
    failures.push(...(await cycle(browser, server, gateway, "通知二", "1", { typed: "typed-by-the-clerk-" + process.pid })));
    Object.assign(gateway, { refused: 0, passed: 0 });
    gateway.refusals.push({ status: 503, body: "ERR busy" },
                          { status: 200, body: "<html><body>请先登录</body></html>" });
    failures.push(...(await cycle(browser, server, gateway, "退回重传", "3", { retries: 2 })));
  } catch (e) {
    failures.push(e.message);
  } finally {
    wine(["reg", "delete", KEY, "/v", "AllowedOrigins", "/f"]);
    if (browser) await browser.close();
    await gateway.stop();
    if (failures.length) console.log("launcher_e2e: the server's output:\n" + server.output());
    await server.stop();
  }
  if (failures.length) {
    console.log(`launcher_e2e (${SERVER_KIND}): FAILED: ` + failures.join("; "));
    process.exit(1);
  }
  console.log(`launcher_e2e (${SERVER_KIND}): passed`);
}

main();
