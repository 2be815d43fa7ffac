// The sample page, the page helper and the reference server in Chromium.
// The launcher cannot run here: each test does what NibWordHost.exe would do
// with the link the page produced (fetch the job, post, upload).
"use strict";

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const iconv = require("iconv-lite");
const { startServer, launchBrowser, makeZip, filesUnder, post } = require("./support");

const DOC = "notice1";
let server, browser;

before(async () => {
  server = await startServer({ [DOC]: "the document's bytes", other: "another document" });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (server) await server.stop();
});

const gbk = (text) => iconv.encode(text, "gbk");
const uploadsOf = (id) => filesUnder(path.join(server.data, "uploads", id));

// A fresh page on the sample page; `timeout` the helper's, in ms.
async function samplePage(timeout = 30000) {
  const page = await browser.context.newPage();
  page.errors = [];
  page.on("pageerror", (e) => page.errors.push(e.message));
  await page.goto(`${server.base}/helper-page.html?doc=${DOC}&timeout=${timeout}`);
  return page;
}

// Closes a page that raised no script error.
async function closePage(page) {
  await page.close();
  assert.deepEqual(page.errors, [], "no script error on the page");
}

// Clicks 编辑 and waits for the nibword: link the page produced.
async function linkFrom(page) {
  await page.click("#edit");
  await page.waitForFunction(() => document.getElementById("link").href.startsWith("nibword:"), null, { timeout: 10000 });
  return page.$eval("#link", (a) => a.getAttribute("href"));
}

// A session made as the page makes it, for the tests that need no page.
async function newSession(doc = DOC) {
  const reply = await fetch(`${server.base}/api/documents/${doc}/edit-session`, { method: "POST" });
  assert.equal(reply.status, 201);
  return reply.json();
}

const settingOf = (job, member) => (job.settings.find((s) => s[0] === member) || [])[1];

test("(a) the sample page starts a job; a launcher's posts and upload show the document saved", async () => {
  const page = await samplePage();
  const link = await linkFrom(page);
  assert.match(link, /^nibword:http:\/\/127\.0\.0\.1:\d+\/nib\/job\?t=[0-9a-f]{32}$/);
  assert.equal(await page.$eval("#state", (e) => e.dataset.state), "requesting");

  // As NibWordHost.exe: the job address follows "nibword:".
  const jobAddress = link.slice("nibword:".length);
  const token = new URL(jobAddress).searchParams.get("t");
  const reply = await fetch(jobAddress);
  assert.equal(reply.status, 200);
  assert.match(reply.headers.get("content-type"), /^application\/json/);
  const job = await reply.json();

  // The job's shape: settings as [member, args...], the open, the events address.
  assert.ok(Array.isArray(job.settings) && job.settings.length > 0);
  for (const s of job.settings) assert.ok(Array.isArray(s) && typeof s[0] === "string" && s.length >= 2, JSON.stringify(s));
  assert.deepEqual(job.open, ["1", ""]);
  assert.equal(typeof job.events, "string");
  assert.equal(settingOf(job, "setSucceedPrefix"), "OK");
  assert.equal(settingOf(job, "SetUserName"), "张三");
  // Token binding: every address is on this server and carries this job's token.
  const addresses = { download: settingOf(job, "SetDownURL"), upload: settingOf(job, "SetUpURL"), events: job.events };
  for (const [what, address] of Object.entries(addresses)) {
    const url = new URL(address);
    assert.equal(url.origin, server.base, what);
    assert.equal(url.searchParams.get("t"), token, what + " carries the job's token");
  }
  assert.ok(addresses.upload.includes("?"), "the upload address holds a \"?\" for the object's \"&isSave=\"");
  // The download address gives this document (bound to D).
  const download = await fetch(addresses.download);
  assert.equal(download.status, 200);
  assert.equal(await download.text(), "the document's bytes");

  assert.equal((await post(job.events, JSON.stringify({ started: { version: "1.0", pid: 4242 } }))).status, 200);
  await page.waitForSelector('#state[data-state="started"]', { timeout: 5000 });
  assert.equal((await post(job.events, JSON.stringify({ event: ["TempletFN", `${DOC}.doc`, "b", null, null] }))).status, 200);
  assert.equal((await post(job.events, JSON.stringify({ result: "OK:-1" }), "application/json; charset=utf-8")).status, 200);
  await page.waitForSelector('#state[data-state="opened"]', { timeout: 5000 });

  // The upload: the object's archive, names in GBK without the UTF-8 flag, the suffix joined with "&".
  const archive = makeZip([
    { name: gbk("通知1.doc"), data: Buffer.from("<nibdoc>正文</nibdoc>") },
    { name: gbk("通知1.htm"), data: gbk("<html><body>正文</body></html>") },
    { name: gbk("通知1.files/image001.png"), data: Buffer.from([0x89, 0x50, 0x4e, 0x47]) },
  ]);
  const upload = await post(addresses.upload + "&isSave=SaveAndClose", archive);
  const uploadReply = await upload.text();
  assert.equal(upload.status, 200, uploadReply);
  assert.match(uploadReply, /^OK/, "the success prefix");
  assert.equal(await page.$eval("#state", (e) => e.dataset.state), "opened", "an upload alone is no save: the events say");

  assert.equal((await post(job.events, JSON.stringify({ event: ["quit", "Save", "-1", "a", "b"] }))).status, 200);
  await page.waitForSelector('#state[data-state="saved"]', { timeout: 5000 });
  assert.equal(await page.textContent("#state"), "文档已保存");
  assert.equal(await page.isVisible("#message"), false, "no failure shown");
  const log = await page.textContent("#log");
  assert.match(log, /事件:quit, Save, -1/);
  assert.match(log, /已保存,编辑结束/);

  // The server holds the upload with the entry names decoded.
  assert.deepEqual(uploadsOf(DOC), ["1/upload.json", "1/通知1.doc", "1/通知1.files/image001.png", "1/通知1.htm"]);
  const stored = path.join(server.data, "uploads", DOC, "1");
  assert.equal(iconv.decode(fs.readFileSync(path.join(stored, "通知1.htm")), "gbk"), "<html><body>正文</body></html>");
  const meta = JSON.parse(fs.readFileSync(path.join(stored, "upload.json"), "utf8"));
  assert.equal(meta.kind, "archive");
  assert.equal(meta.isSave, "SaveAndClose");
  const info = await (await fetch(`${server.base}/api/documents/${DOC}`)).json();
  assert.deepEqual(info.versions.map((v) => v.entries.map((e) => e.name)), [["通知1.doc", "通知1.htm", "通知1.files/image001.png"]],
                   "in the archive's order");

  // The cycle ended with the save: the token ends with it.
  const late = await post(addresses.upload, archive);
  assert.equal(late.status, 403);
  assert.match(await late.text(), /ended/);
  assert.equal(uploadsOf(DOC).length, 4, "nothing more stored");
  await closePage(page);
});

test("(b) no launcher starts: after the time-out the page shows the message and the install hint", async () => {
  const page = await samplePage(1500);
  const started = Date.now();
  await linkFrom(page);
  await page.waitForSelector("#failure:not(.hidden)", { timeout: 10000 });
  const waited = Date.now() - started;
  assert.ok(waited >= 1400, `the helper waited its time-out (${waited} ms)`);
  assert.equal(await page.$eval("#state", (e) => e.dataset.state), "failed");
  const message = await page.textContent("#message");
  assert.match(message, /2 秒内没有收到启动器 NibWordHost 的消息/);
  const hint = await page.textContent("#hint");
  assert.match(hint, /安装/);
  assert.match(hint, /NibWordLib\.msi/);
  await closePage(page);
});

test("(b') a launcher that does start in time clears no time-out", async () => {
  const page = await samplePage(3000);
  const job = await (await fetch((await linkFrom(page)).slice(8))).json();
  await post(job.events, JSON.stringify({ started: {} }));
  await page.waitForSelector('#state[data-state="started"]', { timeout: 5000 });
  await page.waitForTimeout(3500);
  assert.equal(await page.$eval("#state", (e) => e.dataset.state), "started");
  assert.equal(await page.isVisible("#message"), false);
  await closePage(page);
});

test("(c) an upload without the right token is refused with 403 and nothing is stored", async () => {
  const session = await newSession("other");
  const job = await (await fetch(session.job)).json();
  const upload = settingOf(job, "SetUpURL");
  const archive = makeZip([{ name: gbk("通知2.htm"), data: Buffer.from("<html></html>") }]);
  const noToken = new URL(upload);
  noToken.searchParams.delete("t");
  const wrong = new URL(upload);
  wrong.searchParams.set("t", "0".repeat(32));
  for (const [what, address] of [["no token", noToken.href], ["a wrong token", wrong.href]]) {
    const reply = await post(address + "&isSave=SaveAndClose", archive);
    assert.equal(reply.status, 403, what);
    assert.match(await reply.text(), /^ERR (no token|unknown or expired token)$/, what);
  }
  // Nor does an event post change the session.
  const event = new URL(job.events);
  event.searchParams.set("t", "f".repeat(32));
  assert.equal((await post(event.href, JSON.stringify({ event: ["quit", "Save", "1", "a", "b"] }))).status, 403);
  // With the token, a body that is no archive, or an archive reaching out of its folder, stores nothing either.
  const bad = await post(upload, Buffer.from("<html>not an archive</html>"));
  assert.equal(bad.status, 400);
  assert.match(await bad.text(), /not a ZIP archive/);
  const escaping = await post(upload, makeZip([{ name: Buffer.from("../evil.htm"), data: Buffer.from("x") }]));
  assert.equal(escaping.status, 400);
  assert.match(await escaping.text(), /\.\./);
  const broken = archive.subarray(0, archive.length - 30);
  assert.equal((await post(upload, broken)).status, 400);

  assert.deepEqual(uploadsOf("other"), [], "nothing stored");
  assert.deepEqual(fs.readdirSync(path.join(server.data, "uploads")).filter((n) => n.startsWith(".incoming")), [], "no half upload left");
  assert.ok(!fs.existsSync(path.join(server.data, "evil.htm")));
  const state = await (await fetch(`${server.base}${session.state}`)).json();
  assert.equal(state.state, "started", "the refused posts changed nothing");
  assert.equal(state.uploads, 0);
});

test("(d) a job token is good for one fetch; a reused one is refused", async () => {
  const session = await newSession();
  assert.equal((await fetch(session.job)).status, 200);
  const again = await fetch(session.job);
  assert.equal(again.status, 403);
  assert.match(await again.text(), /fetched already/);
  // One session's token opens nothing of another's: each token is its own document's.
  const second = await newSession("other");
  assert.notEqual(new URL(second.job).searchParams.get("t"), new URL(session.job).searchParams.get("t"));
  const job2 = await (await fetch(second.job)).json();
  assert.equal(await (await fetch(settingOf(job2, "SetDownURL"))).text(), "another document");
  // After the cycle's end (quit/NoSave) the token is refused everywhere.
  const job = session.direct;
  assert.equal((await post(job.events, JSON.stringify({ event: ["quit", "NoSave", "", null, null] }))).status, 200);
  for (const address of [settingOf(job, "SetDownURL"), session.job]) assert.equal((await fetch(address)).status, 403, address);
  assert.equal((await post(job.events, JSON.stringify({ result: "" }))).status, 403);
  const state = await (await fetch(`${server.base}${session.state}`)).json();
  assert.equal(state.state, "closed");
});

test("the SSE stream and the polling endpoint tell the same cycle; TempSave is not the end", async () => {
  const page = await samplePage();
  const link = await linkFrom(page);
  const job = await (await fetch(link.slice(8))).json();
  await post(job.events, JSON.stringify({ result: "" }));
  await post(job.events, JSON.stringify({ event: ["quit", "TempSave", "812", null, null] }));
  await page.waitForFunction(() => document.getElementById("log").textContent.includes("已保存,仍在编辑"), null, { timeout: 5000 });
  assert.equal(await page.$eval("#state", (e) => e.dataset.state), "opened", "still editing");
  // The token still works after a TempSave.
  const upload = await post(settingOf(job, "SetUpURL") + "&isSave=OnlySave", makeZip([{ name: gbk("稿.htm"), data: Buffer.from("x") }]));
  assert.equal(upload.status, 200);
  await post(job.events, JSON.stringify({ error: "Word could not start", source: "NibWordLib.NibWord" }));
  await page.waitForSelector('#state[data-state="failed"]', { timeout: 5000 });
  const sid = (await page.evaluate(() => helper.session.session));
  const polled = await (await fetch(`${server.base}/api/sessions/${sid}`)).json();
  assert.deepEqual(polled.notices.map((n) => n.type), ["started", "opened", "event", "saved", "uploaded", "failed"]);
  assert.equal(polled.state, "failed");
  assert.equal(polled.notices[5].data.error, "Word could not start");
  await closePage(page);
});

// The ActiveX path cannot run in Chromium: a stand-in object (methods on the
// page's <object> element, as IE gives a control's) records what the helper
// calls and acts as the object would: downloads, uploads, fires OnEventStart.
test("the ActiveX path: the helper applies the job to the object, opens, and reports the object's events", async () => {
  const page = await browser.context.newPage();
  page.errors = [];
  page.on("pageerror", (e) => page.errors.push(e.message));
  await page.addInitScript(() => {
    const calls = (window.nibCalls = []);
    const set = {};
    window.ActiveXObject = function (progId) { if (progId !== "NibWordLib.NibWord") throw new Error("cannot create " + progId); };
    const proto = HTMLObjectElement.prototype;
    for (const m of ["SetDownURL", "SetUpURL", "SetDestBaseFN", "SetUserName", "setSucceedPrefix", "SetFileSizeLmt"])
      proto[m] = function (...args) { calls.push([m, ...args]); set[m] = args[0]; };
    proto.attachEvent = function (name, fn) { calls.push(["attachEvent", name]); this.nibHandler = fn; };
    proto.OpenFile = function (p1, p2) {
      calls.push(["OpenFile", p1, p2, this.getAttribute("classid")]);
      this.nibHandler("TempletFN", set.SetDestBaseFN, "b", null, null);
      setTimeout(async () => {   // the user presses 保存并关闭
        const got = await (await fetch(set.SetDownURL)).text();
        const reply = await fetch(set.SetUpURL + "&isSave=SaveAndClose", { method: "POST", headers: { "Content-Type": "text/html" }, body: window.nibArchive });
        calls.push(["download", got], ["upload", reply.status, await reply.text()]);
        this.nibHandler("quit", "Save", "733", "a", "b");
      }, 300);
      return "";
    };
  });
  fs.writeFileSync(path.join(server.data, "documents", "ax1.doc"), "activex document");
  await page.goto(`${server.base}/helper-page.html?doc=ax1`);
  await page.waitForSelector('#doc option[value="ax1"]', { state: "attached" });
  const archive = makeZip([{ name: gbk("公文.htm"), data: Buffer.from("<html></html>") }]);
  await page.evaluate((bytes) => { window.nibArchive = new Uint8Array(bytes); }, [...archive]);
  await page.click("#edit");
  await page.waitForSelector('#state[data-state="saved"]', { timeout: 5000 });
  const calls = await page.evaluate(() => window.nibCalls);
  const names = calls.map((c) => c[0]);
  assert.deepEqual(names.slice(0, 8), ["attachEvent", "SetDownURL", "SetUpURL", "SetDestBaseFN", "SetUserName", "setSucceedPrefix", "SetFileSizeLmt", "OpenFile"]);
  assert.deepEqual(calls[7], ["OpenFile", "1", "", "clsid:358ECC3E-6668-48DF-993E-0410762EAC63"]);
  assert.deepEqual(calls.find((c) => c[0] === "download"), ["download", "activex document"]);
  assert.equal(calls.find((c) => c[0] === "upload")[1], 200);
  assert.equal(await page.isVisible("#manual"), false, "no nibword: link on this path");
  const sid = await page.evaluate(() => helper.session.session);
  let state;
  for (let i = 0; i < 50; i++) {
    state = await (await fetch(`${server.base}/api/sessions/${sid}`)).json();
    if (state.ended) break;
    await new Promise((r) => setTimeout(r, 100));
  }
  assert.equal(state.state, "saved", "the helper told the server the object's events");
  assert.deepEqual(uploadsOf("ax1"), ["1/upload.json", "1/公文.htm"]);
  await closePage(page);
});

test("a failed unattended upload keeps the cycle for the user's retry; a failed download ends it", async () => {
  const unattended = async () => {
    const reply = await fetch(`${server.base}/api/documents/${DOC}/edit-session`, {
      method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ open: ["3", ""] }) });
    assert.equal(reply.status, 201);
    const made = await reply.json();
    return { job: await (await fetch(made.job)).json(), state: `${server.base}${made.state}` };
  };
  const archive = makeZip([{ name: gbk("通知1.doc"), data: Buffer.from("<nibdoc>正文</nibdoc>") }]);
  // The document opened (its open event came first, with the document), the upload failed: 关闭 → 是 uploads again.
  const { job, state } = await unattended();
  assert.equal((await post(job.events, JSON.stringify({ event: ["TempletFN", `${DOC}.doc`, "b", `${DOC}.doc`, `${DOC}.doc`] }))).status, 200);
  assert.equal((await post(job.events, JSON.stringify({ result: "" }))).status, 200);
  let session = await (await fetch(state)).json();
  assert.equal(session.ended, false, "the token still works for the retry");
  const retry = await fetch(settingOf(job, "SetUpURL") + "&isSave=SaveAndClose", { method: "POST", body: archive,
    headers: { "Content-Type": "text/html", "X-NibWord-Cycle": "c-42", "X-NibWord-Attempt": "2" } });
  assert.equal(retry.status, 200, "the retry is taken");
  const version = (await retry.text()).match(/^OK (\d+)/);
  assert.ok(version, "the reply has the success prefix");
  const stored = JSON.parse(fs.readFileSync(path.join(server.data, "uploads", DOC, version[1], "upload.json"), "utf8"));
  assert.deepEqual([stored.cycle, stored.attempt, stored.isSave], ["c-42", 2, "SaveAndClose"], "the server records which attempt it stored");
  assert.equal((await post(job.events, JSON.stringify({ event: ["quit", "Save", "-1", "a", "b"] }))).status, 200);
  session = await (await fetch(state)).json();
  assert.equal(session.state, "saved", "the page is told");
  assert.equal(session.uploads, 1, "one version stored");

  // Nothing opened (the download failed; or Word could not open it: the open
  // event without a document): the cycle is over, an upload with its token is refused.
  for (const events of [[], [["TempletFN", `${DOC}.doc`, "b", null, null]]]) {
    const failed = await unattended();
    for (const event of events) assert.equal((await post(failed.job.events, JSON.stringify({ event }))).status, 200);
    assert.equal((await post(failed.job.events, JSON.stringify({ result: "" }))).status, 200);
    const told = await (await fetch(failed.state)).json();
    assert.equal(told.ended, true);
    assert.equal(told.notices.at(-1).data.retry, false, "the page is not told to wait for a retry");
    assert.equal((await post(settingOf(failed.job, "SetUpURL") + "&isSave=SaveAndClose", archive)).status, 403);
  }
});
