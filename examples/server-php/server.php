<?php
// The reference server of NibWordLib in PHP: what a web application's back end
// does for the object and for the nibword: launcher, small enough to read and
// adapt. It answers as examples/server/server.js does, address for address.
//
//   NIB_DATA=/srv/nibword NIB_BASE=https://oa.example PHP_CLI_SERVER_WORKERS=4 \
//     php -d post_max_size=64M -S 127.0.0.1:8080 server.php
//
// Behind Apache or nginx with PHP-FPM the same file is the front controller:
// send every request to it (the variables below then come from the pool's
// env[...] or Apache's SetEnv).
//
// Options (environment variables):
//   NIB_DATA      the data folder (default: "data" beside this file)
//   NIB_BASE      the address prefix written into jobs (default: the request's Host)
//   NIB_PAGES     where helper-page.html and nibword.js are (default: the folder above this one)
//   NIB_LIMIT_MB  the upload limit in MB of 1024 * 1024 bytes (default 20); post_max_size must be larger
//   NIB_JOB_TTL   seconds within which a job must be fetched (default 600)
//
// The data folder:
//   documents/<id>.doc        the documents users edit (put yours here; the id may be Chinese)
//   templates/<name>.doc      the red-header templates
//   uploads/<id>/<n>/         each stored upload: its files and upload.json
//   sessions/<sid>.json       the editing sessions, with what the page is told
//   sessions/tokens/<token>   which session a token belongs to
//
// The flow (docs/server.md, section 6):
//   1. The page asks to edit a document: POST /api/documents/<id>/edit-session.
//      The server makes a session with a fresh one-time token and answers the
//      nibword: link (and, for pages that host the object themselves, the same
//      settings to apply directly).
//   2. The launcher fetches the job (GET /nib/job?t=<token>), once.
//   3. The object downloads (GET /nib/doc), uploads (POST /nib/up) and the
//      launcher posts events (POST /nib/events), each with the token.
//   4. The page follows the session: GET /api/sessions/<sid>/events (Server-Sent
//      Events) or GET /api/sessions/<sid> (polling).
//   5. When the cycle ends (saved, closed, failed) the token stops working.
//
// PHP keeps nothing between requests, and several workers answer at once: the
// sessions are files, every change to them is made under one lock (flock) and
// written through a rename, so no notice is lost and no job is handed out twice.
//
// What to adapt is marked "ADAPT".

declare(strict_types=1);

ini_set('display_errors', '0');     // a reply is never a PHP message: errors go to the log
ini_set('log_errors', '1');
mb_substitute_character(0xFFFD);    // a byte a code page cannot read becomes U+FFFD, not "?"

// Document ids: letters of any script (公文), digits, "_" and "-": safe as file
// names, and the document's name in Word (SetDestBaseFN).
const ID = '/^[\p{L}\p{N}_-]{1,64}$/u';
const MODES = ['1', '2', '3', '5', '6'];    // the ProcIDs a page may ask for (docs/api.md, section 4)
const STREAM_SECONDS = 5;                   // how long one event-stream request waits for news
const SESSION_SECONDS = 24 * 3600;          // sessions are forgotten a day after they were made
const JSON_FLAGS = JSON_UNESCAPED_SLASHES | JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_LINE_TERMINATORS
                 | JSON_INVALID_UTF8_SUBSTITUTE | JSON_THROW_ON_ERROR;

// A request refused with a status and a reason: answered "ERR <reason>".
final class Refusal extends RuntimeException
{
    public function __construct(public readonly int $status, string $reason)
    {
        parent::__construct($reason);
    }
}

// An upload that is not a usable archive: 400, nothing stored.
final class BadArchive extends RuntimeException
{
}

// What a handler answers: a status, a body (or a file) and headers.
final class Reply
{
    public array $headers = [];
    public ?string $file = null;
    public bool $etag = true;

    public function __construct(public int $status, public string $type, public string $body = '')
    {
    }

    public static function text(string $text, int $status = 200): self
    {
        return new self($status, 'text/plain; charset=utf-8', $text);
    }

    public static function error(int $status, string $reason): self
    {
        return self::text('ERR ' . $reason, $status);
    }

    public static function json(mixed $data, int $status = 200): self
    {
        return new self($status, 'application/json; charset=utf-8', json_encode($data, JSON_FLAGS));
    }

    public function with(string $name, string $value): self
    {
        $this->headers[$name] = $value;
        return $this;
    }
}

// ---------------------------------------------------------------------------
// Options and folders

function config(): object
{
    static $config = null;
    if ($config === null) {
        $limitMb = jsNumber(option('NIB_LIMIT_MB', '20'));
        $jobTtl = jsNumber(option('NIB_JOB_TTL', '600'));
        if (!is_finite($limitMb) || $limitMb < 0) throw new RuntimeException('NIB_LIMIT_MB is not a number of MB');
        if (!is_finite($jobTtl) || $jobTtl < 0) throw new RuntimeException('NIB_JOB_TTL is not a number of seconds');
        $config = (object) [
            'data' => absolutePath(option('NIB_DATA', __DIR__ . '/data')),
            // ADAPT: set NIB_BASE to the public https address the administrator lists in AllowedOrigins.
            'base' => rtrim(option('NIB_BASE', ''), '/'),
            'pages' => absolutePath(option('NIB_PAGES', dirname(__DIR__))),
            'limitMb' => $limitMb,
            'jobTtl' => $jobTtl,
        ];
    }
    return $config;
}

function option(string $name, string $default): string
{
    $value = getenv($name);
    if (!is_string($value) || $value === '') $value = $_SERVER[$name] ?? '';
    return is_string($value) && $value !== '' ? $value : $default;
}

function absolutePath(string $path): string
{
    return str_starts_with($path, '/') ? $path : getcwd() . '/' . $path;
}

// A folder of the data folder: documents, templates, uploads, sessions, sessions/tokens.
function dataDir(string $name): string
{
    return config()->data . '/' . $name;
}

function makeDir(string $dir): void
{
    // Another worker may make it at the same moment: only its absence afterwards is a failure.
    if (!is_dir($dir) && !@mkdir($dir, 0777, true) && !is_dir($dir)) throw new RuntimeException('cannot make ' . $dir);
}

function documentFile(string $id): string
{
    return dataDir('documents') . '/' . $id . '.doc';
}

// Writes `data` to `file` through a temporary file and a rename: a reader never
// sees half a file.
function writeFileAtomic(string $file, string $data): void
{
    $temp = $file . '.' . getmypid() . '.' . bin2hex(random_bytes(4)) . '.tmp';
    try {
        writeBytes($temp, $data);
        if (!rename($temp, $file)) throw new RuntimeException('cannot rename ' . $temp);
    } finally {
        if (is_file($temp)) @unlink($temp);
    }
}

function writeBytes(string $file, string $data): void
{
    if (file_put_contents($file, $data) !== strlen($data)) throw new RuntimeException('cannot write ' . $file);
}

function removeTree(string $path): void
{
    if (is_dir($path) && !is_link($path)) {
        foreach (array_diff(scandir($path), ['.', '..']) as $name) removeTree($path . '/' . $name);
        @rmdir($path);
    } elseif (file_exists($path) || is_link($path)) {
        @unlink($path);
    }
}

// ---------------------------------------------------------------------------
// The request

// The method, the path that chooses the handler, the query and the headers.
function currentRequest(): array
{
    $url = $_SERVER['REQUEST_URI'] ?? '/';
    $hash = strpos($url, '#');
    if ($hash !== false) $url = substr($url, 0, $hash);
    $question = strpos($url, '?');
    // The object joins "&isSave=..." to the upload address as it is. Our upload
    // addresses hold a "?" already; one configured without it arrives as
    // "/nib/up&isSave=SaveAndClose": that is still the upload address. The
    // query is read from the address as it came, before this.
    $routed = $url;
    $at = strpos($url, '&isSave=');
    if ($at !== false && ($question === false || $question > $at)) $routed = substr($url, 0, $at) . '?' . substr($url, $at + 1);
    $routedQuestion = strpos($routed, '?');
    return [
        'method' => strtoupper($_SERVER['REQUEST_METHOD'] ?? 'GET'),
        'path' => $routedQuestion === false ? $routed : substr($routed, 0, $routedQuestion),
        'query' => parseQuery($question === false ? '' : substr($url, $question + 1)),
        'headers' => requestHeaders(),
    ];
}

// Header names in lower case; the values are Latin-1 text, as HTTP defines them.
function requestHeaders(): array
{
    $headers = [];
    foreach (getallheaders() as $name => $value) {
        $headers[strtolower((string) $name)] = mb_convert_encoding((string) $value, 'UTF-8', 'ISO-8859-1');
    }
    if (isset($_SERVER['CONTENT_LENGTH']) && !isset($headers['content-length'])) $headers['content-length'] = $_SERVER['CONTENT_LENGTH'];
    return $headers;
}

function headerOf(array $req, string $name): string
{
    return $req['headers'][strtolower($name)] ?? '';
}

// The query: a name given once is a string, given again or with brackets
// ("t[]=") a list, which no address takes for a token or a name.
function parseQuery(string $query): array
{
    $values = [];
    foreach (explode('&', $query) as $part) {
        if ($part === '') continue;
        [$key, $value] = array_pad(explode('=', $part, 2), 2, '');
        $key = decodeQueryPart($key);
        $value = decodeQueryPart($value);
        $bracket = strpos($key, '[');
        if ($bracket > 0) {
            $key = substr($key, 0, $bracket);
            $values[$key] = array_merge((array) ($values[$key] ?? []), [$value]);
        } elseif ($key !== '') {
            $values[$key] = array_key_exists($key, $values) ? array_merge((array) $values[$key], [$value]) : $value;
        }
    }
    return $values;
}

// "+" is a space; a malformed escape leaves the text as it is.
function decodeQueryPart(string $text): string
{
    $text = str_replace('+', ' ', $text);
    try {
        return decodeURIComponent($text);
    } catch (UnexpectedValueException $e) {
        return $text;
    }
}

// Percent-decoding that insists on UTF-8: a stray "%" or bytes that are no UTF-8 text are refused.
function decodeURIComponent(string $text): string
{
    if (preg_match('/%(?![0-9A-Fa-f]{2})/', $text)) throw new UnexpectedValueException('a malformed escape: ' . $text);
    return preg_replace_callback('/(?:%[0-9A-Fa-f]{2})+/', function (array $m): string {
        $bytes = rawurldecode($m[0]);
        if (!mb_check_encoding($bytes, 'UTF-8')) throw new UnexpectedValueException('escapes that are no UTF-8: ' . $m[0]);
        return $bytes;
    }, $text);
}

// The escapes of JavaScript's encodeURIComponent: "!'()*" stay as they are.
function encodeURIComponent(string $text): string
{
    return strtr(rawurlencode($text), ['%21' => '!', '%27' => "'", '%28' => '(', '%29' => ')', '%2A' => '*']);
}

// The body, raw whatever the Content-Type says, refused (413) when larger than
// `limit` bytes: judged from Content-Length before anything is read.
function readBody(array $req, int $limit): string
{
    $encoding = strtolower(headerOf($req, 'Content-Encoding') ?: 'identity');
    $length = headerOf($req, 'Content-Length');
    if ($encoding === 'identity' && $length !== '' && (float) $length > $limit) throw tooLarge();
    $raw = file_get_contents('php://input');
    if ($raw === false) throw new RuntimeException('the body could not be read');
    $body = match ($encoding) {
        'identity' => $raw,
        'gzip' => gzdecode($raw),
        'deflate' => gzuncompress($raw),
        default => throw new RuntimeException('an unsupported Content-Encoding: ' . $encoding),
    };
    if ($body === false) throw new RuntimeException('a body that does not inflate');
    if (strlen($body) > $limit) throw tooLarge();
    return $body;
}

function tooLarge(): Refusal
{
    return new Refusal(413, 'the body is larger than ' . jsString(config()->limitMb) . ' MB');
}

function uploadLimit(): int
{
    return (int) floor(config()->limitMb * 1024 * 1024);
}

// The address the launcher reaches this server by (NIB_BASE, else the request's own).
function baseOf(array $req): string
{
    if (config()->base !== '') return config()->base;
    $https = ($_SERVER['HTTPS'] ?? '') !== '' && ($_SERVER['HTTPS'] ?? '') !== 'off';
    $host = headerOf($req, 'Host') ?: ($_SERVER['SERVER_NAME'] ?? 'localhost') . ':' . ($_SERVER['SERVER_PORT'] ?? '80');
    return ($https ? 'https' : 'http') . '://' . $host;
}

// ADAPT: the logged-in user. This reference server has no login: it takes
// the name a page sends in "X-User" (default 张三). A real server takes the
// user from its own session and checks the user may edit the document.
function userOf(array $req): string
{
    $name = headerOf($req, 'X-User');
    try {
        return $name !== '' ? decodeURIComponent($name) : '张三';
    } catch (UnexpectedValueException $e) {
        return '张三';
    }
}

// ---------------------------------------------------------------------------
// JavaScript's ways with values, where the launcher's posts and the options
// need them: what String(), Number() and a condition make of a value.

function jsString(mixed $value): string
{
    if (is_string($value)) return $value;
    if ($value === null) return 'null';
    if (is_bool($value)) return $value ? 'true' : 'false';
    if (is_int($value)) return (string) $value;
    if (is_float($value)) {
        if (is_nan($value)) return 'NaN';
        if (is_infinite($value)) return $value > 0 ? 'Infinity' : '-Infinity';
        if ($value == floor($value) && abs($value) < 1e21) return sprintf('%.0f', $value);
        return preg_replace('/\.0(?=e)/', '', json_encode($value));
    }
    if (is_array($value)) return implode(',', array_map(fn ($v) => $v === null ? '' : jsString($v), $value));
    return '[object Object]';
}

function jsNumber(string $text): int|float
{
    $text = trim($text);
    if ($text === '') return 0;
    if (preg_match('/^0x[0-9a-f]+$/i', $text)) return hexdec(substr($text, 2));
    if (preg_match('/^0o[0-7]+$/i', $text)) return octdec(substr($text, 2));
    if (preg_match('/^0b[01]+$/i', $text)) return bindec(substr($text, 2));
    if (preg_match('/^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i', $text)) {
        $number = (float) $text;
        return $number == floor($number) && abs($number) < PHP_INT_MAX ? (int) $number : $number;
    }
    if (preg_match('/^([+-]?)Infinity$/', $text, $m)) return $m[1] === '-' ? -INF : INF;
    return NAN;
}

function jsTruthy(mixed $value): bool
{
    if (is_float($value) && is_nan($value)) return false;
    return !($value === null || $value === false || $value === 0 || $value === 0.0 || $value === '');
}

// ---------------------------------------------------------------------------
// Sessions: sessions/<sid>.json, and sessions/tokens/<token> holding the sid.
// ADAPT: a database row per session does the same, the lock becoming its transaction.

function sessionFile(string $sid): string
{
    return dataDir('sessions') . '/' . $sid . '.json';
}

function tokenFile(string $token): string
{
    return dataDir('sessions/tokens') . '/' . $token;
}

function loadSession(string $sid): ?object
{
    if (!preg_match('/^[0-9a-f]{24}$/', $sid)) return null;
    $text = @file_get_contents(sessionFile($sid));
    return $text === false ? null : json_decode($text, false, 512, JSON_THROW_ON_ERROR);
}

function saveSession(object $session): void
{
    writeFileAtomic(sessionFile($session->id), json_encode($session, JSON_FLAGS));
}

// Runs `work` holding the sessions' lock: one change at a time, in every worker.
function withLock(callable $work): mixed
{
    $lock = fopen(dataDir('sessions') . '/.lock', 'c');
    if ($lock === false || !flock($lock, LOCK_EX)) throw new RuntimeException('cannot lock the sessions');
    try {
        return $work();
    } finally {
        flock($lock, LOCK_UN);
        fclose($lock);
    }
}

// The session a request's token names, or a refusal (403 with the reason).
function sessionOf(array $req): object
{
    $t = $req['query']['t'] ?? null;
    $session = null;
    if (is_string($t) && preg_match('/^[0-9a-f]{32}$/', $t)) {
        $sid = @file_get_contents(tokenFile($t));
        $session = $sid === false ? null : loadSession($sid);
        if ($session && $session->token !== $t) $session = null;
    }
    if (!$session) throw new Refusal(403, $t !== null && $t !== '' ? 'unknown or expired token' : 'no token');
    if ($session->ended) throw new Refusal(403, 'the editing cycle has ended');
    return $session;
}

// Changes the session the request's token names, under the lock; `change`
// answers. A refusal thrown before any change leaves the session as it was.
function changeByToken(array $req, callable $change): Reply
{
    return withLock(function () use ($req, $change) {
        $session = sessionOf($req);
        $reply = $change($session);
        saveSession($session);
        return $reply;
    });
}

// ----- the page is told: every notice is kept in order, for the stream and the polling
function notify(object $session, string $type, array $data = []): void
{
    $session->notices[] = (object) [
        'id' => count($session->notices) + 1,
        'type' => $type,
        'state' => $session->state,
        'data' => (object) $data,
        'at' => isoNow(),
    ];
}

function setState(object $session, string $state, string $type, array $data): void
{
    $session->state = $state;
    notify($session, $type, $data);
}

// The token ends with the cycle: it stays known only to tell why it is refused.
function endCycle(object $session): void
{
    $session->ended = true;
}

function markStarted(object $session, string $by): void
{
    if ($session->state === 'created') setState($session, 'started', 'started', ['by' => $by]);
}

function isoNow(): string
{
    return (new DateTimeImmutable('now', new DateTimeZone('UTC')))->format('Y-m-d\TH:i:s.v\Z');
}

function nowMs(): int
{
    return (int) floor(microtime(true) * 1000);
}

// Once a minute: tokens of jobs nobody fetched in time are forgotten, and
// sessions a day after they were made.
function sweep(): void
{
    $marker = dataDir('sessions') . '/.swept';
    clearstatcache(true, $marker);
    if (!is_file($marker)) {
        touch($marker);
        return;
    }
    if (time() - filemtime($marker) < 60) return;
    touch($marker);
    withLock(function () {
        $now = nowMs();
        foreach (glob(dataDir('sessions') . '/*.json') ?: [] as $file) {
            $session = loadSession(basename($file, '.json'));
            if (!$session) continue;
            if (!$session->jobFetched && !$session->ended && $session->state === 'created'
                && $now - $session->created > config()->jobTtl * 1000) {
                @unlink(tokenFile($session->token));
            }
            if ($now - $session->created > SESSION_SECONDS * 1000) {
                @unlink(tokenFile($session->token));
                @unlink($file);
            }
        }
    });
}

// ---------------------------------------------------------------------------
// Documents for the page

function versionsOf(string $id): array
{
    $dir = dataDir('uploads') . '/' . $id;
    if (!is_dir($dir)) return [];
    $numbers = array_map('intval', preg_grep('/^\d+$/', scandir($dir)));
    sort($numbers);
    return array_map(function (int $n) use ($dir) {
        $text = file_get_contents("$dir/$n/upload.json");
        if ($text === false) throw new RuntimeException("cannot read $dir/$n/upload.json");
        return json_decode($text, false, 512, JSON_THROW_ON_ERROR);
    }, $numbers);
}

function listDocuments(array $req): Reply
{
    $ids = [];
    foreach (scandir(dataDir('documents')) as $name) {
        if (!str_ends_with($name, '.doc')) continue;
        $id = substr($name, 0, -4);
        if (preg_match(ID, $id)) $ids[] = ['id' => $id, 'versions' => count(versionsOf($id))];
    }
    return Reply::json($ids);
}

function showDocument(array $req, string $id): Reply
{
    if (!preg_match(ID, $id) || !is_file(documentFile($id))) return Reply::error(404, 'no such document');
    return Reply::json(['id' => $id, 'versions' => versionsOf($id)]);
}

// ---------------------------------------------------------------------------
// 1. start an edit cycle
// Body (JSON, optional): {"open": ["1", ""]}: the mode (docs/api.md, section 4).

function startSession(array $req, string $id): Reply
{
    $body = readJsonBody($req);
    if (!preg_match(ID, $id)) return Reply::error(400, 'a bad document id');
    if (!is_file(documentFile($id))) return Reply::error(404, 'no such document: ' . $id);
    $open = is_object($body) && jsTruthy($body->open ?? null) ? $body->open : ['1', ''];
    if (!is_array($open) || count($open) !== 2 || !is_string($open[0] ?? null) || !is_string($open[1] ?? null)
        || !in_array($open[0], MODES, true)) {
        return Reply::error(400, '"open" is [ProcID, ProcID2] with a known ProcID');
    }
    $session = (object) [
        'id' => bin2hex(random_bytes(12)),
        'token' => bin2hex(random_bytes(16)),
        'document' => $id,
        'user' => userOf($req),
        'open' => $open,
        'base' => baseOf($req),
        'created' => nowMs(),
        'jobFetched' => false,
        'state' => 'created',       // created, started, opened, saved, closed, failed
        'ended' => false,
        'documentOpened' => false,  // the open event (TempletFN, "b") came
        'notices' => [],            // what the page is told, in order: {id, type, state, data, at}
        'uploads' => 0,
    ];
    withLock(function () use ($session) {
        saveSession($session);
        writeFileAtomic(tokenFile($session->token), $session->id);
    });
    $jobAddress = "{$session->base}/nib/job?t={$session->token}";
    return Reply::json([
        'session' => $session->id,
        'link' => 'nibword:' . $jobAddress,
        'job' => $jobAddress,
        'state' => "/api/sessions/{$session->id}",
        'stream' => "/api/sessions/{$session->id}/events",
        // For a page that creates the object itself (ActiveX): the same job.
        'direct' => jobFor($session),
    ], 201);
}

// The page's JSON: empty is {}, and only an object or a list is JSON here.
function readJsonBody(array $req): mixed
{
    if (preg_match('/;\s*charset\s*=\s*"?([^";\s]+)/i', headerOf($req, 'Content-Type'), $m)
        && !str_starts_with(strtolower($m[1]), 'utf-')) {
        throw new RuntimeException('an unsupported charset: ' . $m[1]);
    }
    $text = readBody($req, 16 * 1024);
    if (str_starts_with($text, "\xEF\xBB\xBF")) $text = substr($text, 3);
    if ($text === '') return new stdClass();
    if (!preg_match('/^[ \t\n\r]*[{\[]/', $text)) throw new Refusal(400, 'the body is not JSON');
    try {
        return json_decode($text, false, 512, JSON_THROW_ON_ERROR | JSON_INVALID_UTF8_SUBSTITUTE);
    } catch (JsonException $e) {
        throw new Refusal(400, 'the body is not JSON');
    }
}

// The job: the settings in the order the launcher applies them, every address with the token.
function jobFor(object $session): array
{
    $t = $session->token;
    $base = $session->base;
    $settings = [
        ['SetDownURL', "$base/nib/doc?t=$t"],
        ['SetUpURL', "$base/nib/up?t=$t"],      // holds a "?": the object joins "&isSave=..."
        ['SetDestBaseFN', $session->document . '.doc'],
        ['SetUserName', $session->user],
        ['setSucceedPrefix', 'OK'],
        ['SetFileSizeLmt', config()->limitMb * 1000],
    ];
    // A red-header template named like the document, when there is one. ADAPT.
    if (is_file(dataDir('templates') . '/' . $session->document . '.doc')) {
        $settings[] = ['SetDocTmplDLURL', templateAddress($session, $session->document)];
    }
    return ['settings' => $settings, 'open' => $session->open, 'events' => "$base/nib/events?t=$t"];
}

function templateAddress(object $session, string $name): string
{
    return "{$session->base}/nib/template?t={$session->token}&name=" . encodeURIComponent($name);
}

// ---------------------------------------------------------------------------
// 2. the launcher fetches its job, once

function fetchJob(array $req): Reply
{
    return changeByToken($req, function (object $session): Reply {
        if ($session->jobFetched) throw new Refusal(403, 'this job was fetched already');
        if (nowMs() - $session->created > config()->jobTtl * 1000) {
            endCycle($session);
            setState($session, 'failed', 'failed', ['reason' => 'the job was not fetched in time']);
            return Reply::error(403, 'the job has expired');
        }
        $session->jobFetched = true;
        markStarted($session, 'job');
        return Reply::json(jobFor($session))->with('Cache-Control', 'no-store');
    });
}

// ---------------------------------------------------------------------------
// 3a. downloads: the document and its templates

function downloadDocument(array $req): Reply
{
    $session = sessionOf($req);
    return fileReply(documentFile($session->document), 'no-cache, no-store') ?? Reply::error(404, 'the document is gone');
}

function downloadTemplate(array $req): Reply
{
    sessionOf($req);
    $name = jsString($req['query']['name'] ?? '');
    if (!validTemplateName($name)) return Reply::error(400, 'a bad template name');
    return fileReply(dataDir('templates') . '/' . $name . '.doc', 'no-cache, no-store')
        ?? Reply::error(404, 'no such template: ' . $name);
}

// Template names: no path parts, at most 100 UTF-16 units as Word counts them.
function validTemplateName(string $name): bool
{
    return preg_match('/^[^\\\\\/:*?"<>|\x00-\x1f]+$/u', $name) === 1 && utf16Length($name) <= 100
        && !str_contains($name, '..');
}

function utf16Length(string $text): int
{
    return intdiv(strlen(mb_convert_encoding($text, 'UTF-16LE', 'UTF-8')), 2);
}

// ---------------------------------------------------------------------------
// 3b. uploads: the raw body, "Content-Type: text/html" whatever it holds

function upload(array $req): Reply
{
    // The token is checked before the body is read: a refused upload costs nothing.
    $session = sessionOf($req);
    $body = readBody($req, uploadLimit());
    if ($body === '') return Reply::error(400, 'an empty upload');
    $isSave = $req['query']['isSave'] ?? '';
    $isSave = in_array($isSave, ['OnlySave', 'SaveAndClose'], true) ? $isSave : '';
    try {
        if (str_starts_with($body, "PK\x03\x04")) {
            $kind = 'archive';
            $files = readArchive($body);
            if (!$files) return Reply::error(400, 'an archive with no files');
        } elseif ($session->open[0] === '6') {
            // The overprint uploads (ProcID "6") send the Word document itself.
            $kind = 'document';
            $files = [['name' => $session->document . '.doc', 'data' => $body]];
        } else {
            return Reply::error(400, 'not a ZIP archive');
        }
    } catch (BadArchive $e) {
        return Reply::error(400, $e->getMessage());                 // nothing stored
    }
    // Which cycle and which of its attempts (the object's headers): a retry names the same cycle.
    $attempt = jsNumber(headerOf($req, 'X-NibWord-Attempt'));
    $attempt = ['cycle' => headerOf($req, 'X-NibWord-Cycle'), 'attempt' => jsTruthy($attempt) ? (is_finite($attempt) ? $attempt : null) : 0];
    try {
        $version = storeUpload($session, $kind, $isSave, $files, $attempt);
    } catch (Throwable $e) {
        error_log('storing an upload failed: ' . $e);
        return Reply::error(500, 'the upload could not be stored');
    }
    withLock(function () use ($session, $version, $kind, $isSave, $files) {
        $current = loadSession($session->id);
        if (!$current) return;
        $current->uploads++;
        notify($current, 'uploaded', ['version' => $version, 'kind' => $kind, 'isSave' => $isSave,
                                      'entries' => array_column($files, 'name')]);
        saveSession($current);
    });
    return Reply::text('OK ' . $version);
}

// Stores one upload as uploads/<doc>/<n>/: written in a temporary folder,
// then renamed into place whole. `isSave` is a hint only: whether the user
// finished editing is told by the events.
// ADAPT: a database or a document store: keep "written whole, then made current at once".
function storeUpload(object $session, string $kind, string $isSave, array $files, array $attempt): int
{
    $docDir = dataDir('uploads') . '/' . $session->document;
    makeDir($docDir);
    $temp = makeTempDir(dataDir('uploads') . '/.incoming-');
    try {
        foreach ($files as $file) {
            $target = targetIn($temp, $file['name']);
            makeDir(dirname($target));
            writeBytes($target, $file['data']);
        }
        for ($clash = 0; ; $clash++) {
            $version = count(versionsOf($session->document)) + 1 + $clash;
            $meta = ['version' => $version, 'kind' => $kind, 'isSave' => $isSave] + $attempt + [
                'session' => $session->id, 'user' => $session->user, 'received' => isoNow(),
                'entries' => array_map(fn ($f) => ['name' => $f['name'], 'size' => strlen($f['data'])], $files),
            ];
            writeBytes("$temp/upload.json", prettyJson($meta));
            // Two uploads at once may take the same number: the later rename fails and takes the next.
            if (@rename($temp, "$docDir/$version")) return $version;
            if (!file_exists("$docDir/$version") || $clash > 100) throw new RuntimeException("cannot move $temp to $docDir/$version");
        }
    } catch (Throwable $e) {
        removeTree($temp);
        throw $e;
    }
}

function makeTempDir(string $prefix): string
{
    for ($i = 0; $i < 100; $i++) {
        $dir = $prefix . bin2hex(random_bytes(3));
        if (@mkdir($dir, 0777)) return $dir;
    }
    throw new RuntimeException('cannot make a folder ' . $prefix . '*');
}

// Where an entry goes in `folder`: its parts joined with "/", never outside.
function targetIn(string $folder, string $name): string
{
    $parts = array_filter(preg_split('#[\\\\/]#', $name), fn ($p) => $p !== '' && $p !== '.');
    if (!$parts || in_array('..', $parts, true)) throw new RuntimeException('an entry outside the folder: ' . $name);
    return $folder . '/' . implode('/', $parts);
}

// JSON indented by two spaces, as upload.json is written.
function prettyJson(mixed $data): string
{
    $text = json_encode($data, JSON_FLAGS | JSON_PRETTY_PRINT);
    return preg_replace_callback('/^(?: {4})+/m', fn ($m) => str_repeat(' ', strlen($m[0]) / 2), $text);
}

// ---------------------------------------------------------------------------
// The upload archive

// The files of an upload archive, [{name, data}] in the archive's order.
// Names carry no UTF-8 flag: they are in the client's ANSI code page, GBK on
// simplified-Chinese Windows (ADAPT: "BIG-5" for traditional-Chinese clients).
// The names and their flags come from the central directory as written: ZipArchive
// reads names without ZipArchive::FL_ENC_RAW as CP437, and even with it gives an
// Info-ZIP Unicode Path field's name in place of the bytes the entry holds.
function readArchive(string $bytes, string $codePage = 'CP936'): array
{
    [$offset, $count] = centralDirectoryOf($bytes);
    $temp = tempnam(sys_get_temp_dir(), 'nibzip');
    if ($temp === false) throw new RuntimeException('cannot make a temporary file');
    $zip = new ZipArchive();
    $opened = false;
    try {
        writeBytes($temp, $bytes);
        $opened = $zip->open($temp, ZipArchive::RDONLY);
        if ($opened !== true) throw new BadArchive('not a readable ZIP archive: ' . zipError($opened));
        if ($zip->numFiles !== $count) throw new BadArchive("a damaged ZIP archive: $count entries, $zip->numFiles readable");
        $files = [];
        foreach (centralEntries($bytes, $offset, $count) as $index => $entry) {
            // A writer that set the UTF-8 flag (bit 11) said so; otherwise the code page.
            $name = ($entry['flags'] & 0x800) ? mb_scrub($entry['name'], 'UTF-8') : mb_convert_encoding($entry['name'], 'UTF-8', $codePage);
            if (str_ends_with($name, '/')) continue;              // a folder entry: nothing to store
            $bad = checkEntryName($name);
            if ($bad !== null) throw new BadArchive($bad);
            foreach ($files as $file) {
                if (mb_strtolower($file['name']) === mb_strtolower($name)) throw new BadArchive('a repeated entry: ' . $name);
            }
            $files[] = ['name' => $name, 'data' => entryData($zip, $index, $entry, $name)];
        }
        return $files;
    } finally {
        if ($opened === true) $zip->close();
        @unlink($temp);
    }
}

// An archive entry's name, checked: relative, no "..", no drive, no control characters.
function checkEntryName(string $name): ?string
{
    if ($name === '' || utf16Length($name) > 260) return 'an empty or overlong entry name';
    if (preg_match('/[\x00-\x1f]/', $name)) return 'an entry name with control characters';
    if (preg_match('#^[\\\\/]#', $name) || preg_match('/^[A-Za-z]:/', $name)) return 'an absolute entry name: ' . $name;
    if (in_array('..', preg_split('#[\\\\/]#', $name), true)) return 'an entry name with "..": ' . $name;
    return null;
}

function entryData(ZipArchive $zip, int $index, array $entry, string $name): string
{
    if ($entry['flags'] & 0x1) throw new BadArchive("an unreadable entry $name: the entry is encrypted");
    if ($entry['method'] !== 0 && $entry['method'] !== 8) {
        throw new BadArchive("an unreadable entry $name: unsupported compression method: {$entry['method']}");
    }
    $data = $zip->getFromIndex($index);
    $stat = $zip->statIndex($index, ZipArchive::FL_UNCHANGED);
    if ($data === false || $stat === false || strlen($data) !== $stat['size']) {
        throw new BadArchive("an unreadable entry $name: " . $zip->getStatusString());
    }
    return $data;
}

function zipError(int $code): string
{
    return [
        ZipArchive::ER_NOZIP => 'not a zip archive',
        ZipArchive::ER_INCONS => 'an inconsistent archive',
        ZipArchive::ER_READ => 'a read error',
        ZipArchive::ER_MEMORY => 'out of memory',
    ][$code] ?? 'error ' . $code;
}

// Where the central directory starts and how many entries it has: from the
// end-of-central-directory record (and its ZIP64 form).
function centralDirectoryOf(string $bytes): array
{
    $size = strlen($bytes);
    $end = -1;
    for ($i = $size - 22; $i >= max(0, $size - 22 - 0xffff); $i--) {
        if (substr($bytes, $i, 4) === "PK\x05\x06") { $end = $i; break; }
    }
    if ($end < 0) throw new BadArchive('not a readable ZIP archive: end of central directory record signature not found');
    $record = unpack('vdisk/x2/x2/vcount/Vsize/Voffset/vcomment', $bytes, $end + 4);
    if ($record['disk'] !== 0) throw new BadArchive('not a readable ZIP archive: multi-disk zip files are not supported');
    if ($record['comment'] !== $size - $end - 22) throw new BadArchive('not a readable ZIP archive: invalid comment length');
    if ($record['count'] !== 0xffff && $record['offset'] !== 0xffffffff) return [$record['offset'], $record['count']];
    $locator = $end - 20;
    if ($locator < 0 || substr($bytes, $locator, 4) !== "PK\x06\x07") {
        throw new BadArchive('not a readable ZIP archive: invalid zip64 end of central directory locator signature');
    }
    $at = unpack('P', $bytes, $locator + 8)[1];
    if ($at < 0 || $at + 56 > $size || substr($bytes, $at, 4) !== "PK\x06\x06") {
        throw new BadArchive('not a readable ZIP archive: invalid zip64 end of central directory record signature');
    }
    $zip64 = unpack('Pcount/x8/Poffset', $bytes, $at + 32);
    return [$zip64['offset'], $zip64['count']];
}

// The central directory's entries one by one: the name's bytes, the general
// purpose flags and the compression method.
function centralEntries(string $bytes, int $offset, int $count): Generator
{
    for ($index = 0, $at = $offset; $index < $count; $index++) {
        if ($at < 0 || $at + 46 > strlen($bytes) || substr($bytes, $at, 4) !== "PK\x01\x02") {
            throw new BadArchive('a damaged ZIP archive: invalid central directory file header signature');
        }
        $header = unpack('vflags/vmethod', $bytes, $at + 8) + unpack('vname/vextra/vcomment', $bytes, $at + 28);
        if ($header['flags'] & 0x40) throw new BadArchive('a damaged ZIP archive: strong encryption is not supported');
        yield $index => ['name' => substr($bytes, $at + 46, $header['name']), 'flags' => $header['flags'], 'method' => $header['method']];
        $at += 46 + $header['name'] + $header['extra'] + $header['comment'];
    }
}

// ---------------------------------------------------------------------------
// 3c. the launcher's posts: JSON, whatever the Content-Type says

function postEvent(array $req): Reply
{
    return changeByToken($req, function (object $session) use ($req): Reply {
        $post = readPost($req);
        if (property_exists($post, 'started')) {
            markStarted($session, 'post');
            return Reply::text('OK');
        }
        if (property_exists($post, 'error')) {
            markStarted($session, 'post');
            endCycle($session);
            $source = $post->source ?? null;
            setState($session, 'failed', 'failed', ['error' => jsString($post->error), 'source' => $source === null ? '' : jsString($source)]);
            return Reply::text('OK');
        }
        if (property_exists($post, 'result')) {
            markStarted($session, 'post');
            takeResult($session, $post->result === null ? '' : jsString($post->result));
            return Reply::text('OK');
        }
        if (is_array($post->event ?? null)) return takeEvent($session, $post->event);
        throw new Refusal(400, 'expected "started", "event", "result" or "error"');
    });
}

function readPost(array $req): object
{
    $text = readBody($req, 1024 * 1024);
    if (str_starts_with($text, "\xEF\xBB\xBF")) $text = substr($text, 3);
    try {
        $post = json_decode($text, false, 512, JSON_THROW_ON_ERROR | JSON_INVALID_UTF8_SUBSTITUTE);
    } catch (JsonException $e) {
        throw new Refusal(400, 'the body is not JSON');
    }
    if (!is_object($post)) throw new Refusal(400, 'the body is not a JSON object');
    return $post;
}

// What OpenFile returned. The unattended mode "3" has uploaded by the time it
// returns, and ended when the upload succeeded. An empty result means one of
// two things: the document never opened (nothing to retry), or it opened (the
// open event came first) and the upload failed: then Word stays open with the
// document, and the user's retry (关闭 → 是) uploads with this token.
function takeResult(object $session, string $result): void
{
    setState($session, 'opened', 'opened', ['result' => $result]);
    if ($session->open[0] !== '3') return;
    if (preg_match('/^OK:/i', $result)) {
        endCycle($session);
        setState($session, 'saved', 'saved', ['final' => true, 'height' => substr($result, 3)]);
        notify($session, 'closed', ['saved' => true]);
    } elseif ($session->documentOpened ?? false) {
        setState($session, 'failed', 'failed', ['error' => 'the unattended upload failed; the document stays open for the user\'s retry',
                                                'result' => $result, 'retry' => true]);
    } else {
        endCycle($session);
        setState($session, 'failed', 'failed', ['error' => 'the document could not be opened', 'result' => $result, 'retry' => false]);
    }
}

// An OnEventStart of the object: P1..P5.
function takeEvent(object $session, array $args): Reply
{
    [$p1, $p2, $p3, $p4] = array_map(fn ($v) => $v === null ? null : jsString($v), array_pad(array_slice($args, 0, 4), 4, null));
    markStarted($session, 'post');
    notify($session, 'event', ['args' => $args]);
    // The open event: with the document when Word opened it, null when it could not.
    if ($p1 === 'TempletFN' && $p3 === 'b') $session->documentOpened = $p4 !== null;
    if ($p1 === 'quit' || $p1 === 'GWQuit') {
        if ($p2 === 'Save') {
            endCycle($session);
            setState($session, 'saved', 'saved', ['final' => true, 'height' => $p3]);
            notify($session, 'closed', ['saved' => true]);
        } elseif ($p2 === 'TempSave') {
            // Uploaded, and the user goes on editing: not the end of the cycle.
            notify($session, 'saved', ['final' => false, 'height' => $p3]);
        } elseif ($p2 === 'NoSave') {
            endCycle($session);
            setState($session, 'closed', 'closed', ['saved' => false]);
        }
    }
    // The template chooser: answer the chosen template's address, applied at once.
    if ($p1 === 'TempletFN' && $p3 === 'a' && jsTruthy($p2)) {
        return Reply::json(['settings' => [['SetDocTmplDLURL', templateAddress($session, $p2)]]]);
    }
    return Reply::text('OK');
}

// ---------------------------------------------------------------------------
// 4. the page follows its session

function pageSession(string $sid): object
{
    return loadSession($sid) ?? throw new Refusal(404, 'no such session');
}

function sessionState(array $req, string $sid): Reply
{
    $s = pageSession($sid);
    return Reply::json(['session' => $s->id, 'document' => $s->document, 'state' => $s->state, 'ended' => $s->ended,
                        'jobFetched' => $s->jobFetched, 'uploads' => $s->uploads, 'notices' => $s->notices])
        ->with('Cache-Control', 'no-store');
}

// Server-Sent Events. A held stream would keep a PHP worker for as long as the
// page is open, so each request gives what is new, waits a few seconds for
// more, and ends; the browser's EventSource comes back after "retry" and says
// what it saw last (Last-Event-ID), and gets the rest.
function sessionEvents(array $req, string $sid): ?Reply
{
    $session = pageSession($sid);
    header_remove('X-Powered-By');
    http_response_code(200);
    header('Content-Type: text/event-stream; charset=utf-8');
    header('Cache-Control: no-store');
    header('X-Accel-Buffering: no');     // nginx: pass each notice on at once
    if ($req['method'] === 'HEAD') return null;
    while (ob_get_level() > 0) ob_end_flush();
    echo "retry: 1000\n\n";
    $lastId = headerOf($req, 'Last-Event-ID') ?: jsString($req['query']['lastEventId'] ?? '');
    $seen = jsNumber($lastId);
    $seen = is_nan($seen) ? 0 : $seen;
    $until = microtime(true) + STREAM_SECONDS;
    do {
        foreach ($session->notices as $notice) {
            if ($notice->id <= $seen) continue;
            echo "id: {$notice->id}\nevent: {$notice->type}\ndata: " . json_encode($notice, JSON_FLAGS) . "\n\n";
            $seen = $notice->id;
        }
        flush();
        usleep(100000);
        $session = loadSession($sid);
    } while ($session && microtime(true) < $until && !connection_aborted());
    return null;
}

// ---------------------------------------------------------------------------
// Pages of the examples folder (the sample page and the helper)

function home(array $req): Reply
{
    $html = str_contains(headerOf($req, 'Accept'), 'text/html');
    $reply = $html
        ? new Reply(302, 'text/html; charset=utf-8', '<p>Found. Redirecting to <a href="/helper-page.html">/helper-page.html</a></p>')
        : new Reply(302, 'text/plain; charset=utf-8', 'Found. Redirecting to /helper-page.html');
    $reply->etag = false;
    return $reply->with('Location', '/helper-page.html')->with('Vary', 'Accept');
}

function page(string $name): Reply
{
    return fileReply(config()->pages . '/' . $name, 'no-cache') ?? throw new RuntimeException('missing page ' . $name);
}

// A file as the answer, or null when there is none (a name starting with "." is none either).
function fileReply(string $file, string $cacheControl): ?Reply
{
    if (str_starts_with(basename($file), '.') || !is_file($file)) return null;
    $types = ['doc' => 'application/msword', 'html' => 'text/html; charset=UTF-8', 'js' => 'application/javascript; charset=UTF-8'];
    $reply = new Reply(200, $types[pathinfo($file, PATHINFO_EXTENSION)] ?? 'application/octet-stream');
    $reply->file = $file;
    $reply->headers['Cache-Control'] = $cacheControl;
    $reply->headers['Last-Modified'] = gmdate('D, d M Y H:i:s', filemtime($file)) . ' GMT';
    $reply->headers['ETag'] = 'W/"' . dechex(filesize($file)) . '-' . dechex(filemtime($file) * 1000) . '"';
    return $reply;
}

// ---------------------------------------------------------------------------
// Answering

// A GET the browser has already: its If-None-Match or If-Modified-Since still holds.
function isFresh(array $req, Reply $reply): bool
{
    if (!in_array($req['method'], ['GET', 'HEAD'], true) || $reply->status < 200 || $reply->status >= 300) return false;
    $noneMatch = headerOf($req, 'If-None-Match');
    $modifiedSince = headerOf($req, 'If-Modified-Since');
    if ($noneMatch === '' && $modifiedSince === '') return false;
    if (preg_match('/(?:^|,)\s*no-cache\s*(?:,|$)/', headerOf($req, 'Cache-Control'))) return false;
    $etag = $reply->headers['ETag'] ?? '';
    if ($noneMatch !== '' && $noneMatch !== '*') {
        $strip = fn ($tag) => preg_replace('/^W\//', '', trim($tag));
        $matches = array_filter(explode(',', $noneMatch), fn ($tag) => $etag !== '' && $strip($tag) === $strip($etag));
        if (!$matches) return false;
    }
    if ($modifiedSince !== '') {
        $lastModified = strtotime($reply->headers['Last-Modified'] ?? '');
        $since = strtotime($modifiedSince);
        if ($lastModified === false || $since === false || $lastModified > $since) return false;
    }
    return true;
}

function send(array $req, Reply $reply): void
{
    if ($reply->file === null && $reply->etag) {
        $reply->headers['ETag'] = 'W/"' . dechex(strlen($reply->body)) . '-' . substr(base64_encode(sha1($reply->body, true)), 0, 27) . '"';
    }
    $fresh = isFresh($req, $reply);
    header_remove('X-Powered-By');
    http_response_code($fresh ? 304 : $reply->status);
    foreach ($reply->headers as $name => $value) header("$name: $value");
    if ($fresh) {
        header_remove('Content-Type');
        return;
    }
    header('Content-Type: ' . $reply->type);
    header('Content-Length: ' . ($reply->file !== null ? filesize($reply->file) : strlen($reply->body)));
    if ($req['method'] === 'HEAD') return;
    if ($reply->file !== null) readfile($reply->file);
    else echo $reply->body;
}

// The addresses, in the order they are tried. As with the Node server, a path
// matches whatever its letters' case and with or without a final "/", a GET
// also answers HEAD, and a parameter with a broken escape is an error.
function routes(): array
{
    return [
        ['GET', '/', 'home'],
        ['GET', '/helper-page.html', fn () => page('helper-page.html')],
        ['GET', '/nibword.js', fn () => page('nibword.js')],
        ['GET', '/api/documents', 'listDocuments'],
        ['GET', '/api/documents/:id', 'showDocument'],
        ['POST', '/api/documents/:id/edit-session', 'startSession'],
        ['GET', '/nib/job', 'fetchJob'],
        ['GET', '/nib/doc', 'downloadDocument'],
        ['GET', '/nib/template', 'downloadTemplate'],
        ['POST', '/nib/up', 'upload'],
        ['POST', '/nib/events', 'postEvent'],
        ['GET', '/api/sessions/:sid', 'sessionState'],
        ['GET', '/api/sessions/:sid/events', 'sessionEvents'],
    ];
}

function dispatch(array $req): ?Reply
{
    foreach (routes() as [$method, $path, $handler]) {
        $pattern = '#^' . preg_replace('#\\\\:\w+#', '([^/]+?)', preg_quote(rtrim($path, '/'), '#')) . '/?$#i';
        if (!preg_match($pattern, $req['path'], $m)) continue;
        $params = array_map('decodeURIComponent', array_slice($m, 1));
        if ($req['method'] === $method || ($method === 'GET' && $req['method'] === 'HEAD')) return $handler($req, ...$params);
    }
    return Reply::error(404, 'no such address: ' . $req['method'] . ' ' . $req['path']);
}

function main(): void
{
    // Every PHP warning is an error: a failed write must never read as success.
    set_error_handler(function (int $level, string $message, string $file, int $line): bool {
        if (!(error_reporting() & $level)) return false;
        throw new ErrorException($message, 0, $level, $file, $line);
    });
    $req = ['method' => strtoupper($_SERVER['REQUEST_METHOD'] ?? 'GET'), 'headers' => []];
    try {
        $req = currentRequest();
        foreach (['documents', 'templates', 'uploads', 'sessions', 'sessions/tokens'] as $dir) makeDir(dataDir($dir));
        sweep();
        $reply = dispatch($req);
    } catch (Refusal $e) {
        $reply = Reply::error($e->status, $e->getMessage());
    } catch (Throwable $e) {
        // Errors as a server answers them: a reason, never a stack.
        error_log('NibWord server: ' . $e);
        $reply = headers_sent() ? null : Reply::error(500, 'internal error');
    }
    if ($reply !== null) send($req, $reply);
}

main();
