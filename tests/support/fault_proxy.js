#!/usr/bin/env node
// A proxy between the code under test and the blob emulator that records every
// request and misbehaves on demand. See README.md for the rule format.
//
//   node fault_proxy.js --upstream-port P [--upstream-host H] --ca CA --cert C --key K
//
// It listens and forwards over HTTPS. Prints {"pid":..,"port":..,"control_port":..} on one
// line once both listeners are up, and ends with the process that started it.
'use strict';

const fs = require('fs');
const http = require('http');
const https = require('https');

const ACTIONS = ['respond', 'cut_after', 'slow', 'truncate_body', 'replace_body', 'refuse', 'drop_answer',
    'endless_body', 'delay_ms', 'rewrite_target', 'cut_request_after'];
// Connection-level headers belong to each hop, not to the message.
const HOP_BY_HOP = new Set(['connection', 'keep-alive', 'proxy-connection', 'transfer-encoding', 'te',
    'trailer', 'upgrade', 'expect']);

function parseArgs(argv) {
    const opts = {'upstream-host': '127.0.0.1'};
    for (let i = 0; i + 1 < argv.length; i += 2) {
        opts[argv[i].replace(/^--/, '')] = argv[i + 1];
    }
    if (!opts['upstream-port'] || !opts.ca || !opts.cert || !opts.key) {
        throw new Error('--upstream-port, --ca, --cert and --key are required');
    }
    return opts;
}

// A mistyped rule would silently forward everything: refuse it instead.
function validateRule(rule) {
    const actions = ACTIONS.filter((a) => rule[a] !== undefined);
    if (actions.length !== 1) {
        throw new Error(`a rule needs exactly one of ${ACTIONS.join(', ')}`);
    }
    return {
        rule,
        action: actions[0],
        path: rule.path === undefined ? null : new RegExp(rule.path),
        skip: rule.skip === undefined ? 0 : rule.skip,
        times: rule.times === undefined ? Infinity : rule.times,
        matched: 0,
        applied: 0,
    };
}

// Raw header pairs [name, value, ...] whose names `keep` accepts.
function rawPairs(raw, keep) {
    const out = [];
    for (let i = 0; i + 1 < raw.length; i += 2) {
        if (keep(raw[i].toLowerCase())) {
            out.push(raw[i], raw[i + 1]);
        }
    }
    return out;
}

class Proxy {
    constructor(opts) {
        this.opts = opts;
        this.rules = [];
        this.log = [];
        this.agent = new https.Agent({keepAlive: true, ca: fs.readFileSync(opts.ca)});
    }

    // First match wins; a rule still skipping or used up lets later rules try.
    pick(req) {
        for (const r of this.rules) {
            if ((r.rule.method !== undefined && r.rule.method !== req.method) ||
                (r.path !== null && !r.path.test(req.url))) {
                continue;
            }
            r.matched++;
            if (r.matched <= r.skip || r.applied >= r.times) {
                continue;
            }
            r.applied++;
            return r;
        }
        return null;
    }

    handle(req, res) {
        const entry = {method: req.method, target: req.url, headers: [], body_size: 0};
        for (let i = 0; i + 1 < req.rawHeaders.length; i += 2) {
            entry.headers.push(req.rawHeaders.slice(i, i + 2));
        }
        this.log.push(entry);
        const rule = this.pick(req);

        if (rule && rule.action === 'refuse') {
            req.socket.destroy();
            return;
        }
        if (rule && rule.action === 'cut_request_after') {
            // The request dies on the way: the service never sees it.
            let left = rule.rule.cut_request_after;
            const cut = () => req.socket.destroy();
            req.on('data', (chunk) => {
                entry.body_size += chunk.length;
                left -= chunk.length;
                if (left <= 0) {
                    cut();
                }
            });
            req.on('end', cut);
            if (left <= 0) {
                cut();
            }
            return;
        }
        const chunks = [];
        req.on('data', (chunk) => {
            entry.body_size += chunk.length;
            chunks.push(chunk);
        });
        req.on('end', () => {
            const body = Buffer.concat(chunks);
            if (rule && rule.action === 'respond') {
                this.respond(res, rule.rule.respond);
            } else if (rule && rule.action === 'endless_body') {
                this.endless(res, rule.rule.endless_body);
            } else if (rule && rule.action === 'delay_ms') {
                setTimeout(() => this.forward(req, body, res, rule, true), rule.rule.delay_ms);
            } else {
                this.forward(req, body, res, rule, true);
            }
        });
    }

    respond(res, answer) {
        const body = Buffer.from(answer.body === undefined ? '' : String(answer.body));
        const headers = Object.assign({}, answer.headers || {});
        if (!Object.keys(headers).some((h) => h.toLowerCase() === 'content-length')) {
            headers['Content-Length'] = String(body.length);
        }
        res.writeHead(answer.status, answer.reason, headers);
        res.end(body);
    }

    // A body that never ends: what a broken or hostile server can send.
    endless(res, answer) {
        res.writeHead(answer.status, answer.reason, answer.headers || {});
        const chunk = Buffer.alloc(65536, 'x');
        const more = () => {
            while (!res.destroyed && res.write(chunk)) {
                // keep the socket's buffer full
            }
        };
        res.on('drain', more);
        more();
    }

    forward(req, body, res, rule, mayRetry) {
        const headers = rawPairs(req.rawHeaders, (name) => !HOP_BY_HOP.has(name));
        const hasLength = headers.some((h, i) => i % 2 === 0 && h.toLowerCase() === 'content-length');
        if (!hasLength && body.length > 0) {
            headers.push('Content-Length', String(body.length));
        }
        const up = https.request({
            host: this.opts['upstream-host'],
            port: this.opts['upstream-port'],
            method: req.method,
            path: rule && rule.action === 'rewrite_target'
                ? req.url.split(rule.rule.rewrite_target[0]).join(rule.rule.rewrite_target[1]) : req.url,
            headers,
            agent: this.agent,
            servername: 'localhost',
        });
        up.on('response', (upRes) => this.relay(req, upRes, res, rule));
        up.on('error', (err) => {
            // The emulator may close an idle kept-alive connection just as we
            // reuse it: we see a reset, or a broken pipe while sending a large body.
            if (mayRetry && up.reusedSocket && (err.code === 'ECONNRESET' || err.code === 'EPIPE')) {
                this.forward(req, body, res, rule, false);
                return;
            }
            process.stderr.write(`fault_proxy: upstream error for ${req.method} ${req.url}: ${err.message}\n`);
            if (!res.headersSent) {
                this.respond(res, {status: 502, body: `fault_proxy: upstream error: ${err.message}`});
            } else {
                res.destroy();
            }
        });
        up.end(body);
    }

    relayHeaders(upRes, drop) {
        return rawPairs(upRes.rawHeaders, (name) => !HOP_BY_HOP.has(name) && !drop.includes(name));
    }

    relay(req, upRes, res, rule) {
        const action = rule ? rule.action : null;
        if (action === 'drop_answer') {
            // The service has acted; its answer is lost on the way back.
            upRes.resume();
            upRes.on('end', () => req.socket.destroy());
            return;
        }
        if (action === 'truncate_body' || action === 'replace_body') {
            const chunks = [];
            upRes.on('data', (c) => chunks.push(c));
            upRes.on('end', () => {
                let body = Buffer.concat(chunks);
                body = action === 'truncate_body' ? body.subarray(0, rule.rule.truncate_body)
                    : Buffer.from(rule.rule.replace_body);
                const headers = this.relayHeaders(upRes, ['content-length']);
                headers.push('Content-Length', String(body.length));
                res.writeHead(upRes.statusCode, upRes.statusMessage, headers);
                res.end(req.method === 'HEAD' ? undefined : body);
            });
            return;
        }

        res.writeHead(upRes.statusCode, upRes.statusMessage, this.relayHeaders(upRes, []));
        if (action === 'cut_after') {
            let left = rule.rule.cut_after;
            const cut = () => {
                upRes.destroy();
                // Flush what was written, then drop the connection mid-body.
                res.socket ? res.socket.destroy() : res.destroy();
            };
            if (left === 0) {
                res.flushHeaders();
                setImmediate(cut);
                return;
            }
            upRes.on('data', (c) => {
                if (left <= 0) {
                    return;
                }
                const part = c.subarray(0, left);
                left -= part.length;
                if (left > 0) {
                    res.write(part);
                } else {
                    res.write(part, () => cut());
                }
            });
            upRes.on('end', () => {
                // The body was shorter than the cut: cut after all of it.
                if (left > 0) {
                    left = 0;
                    res.write('', () => cut());
                }
            });
            return;
        }
        if (action === 'slow') {
            this.throttle(upRes, res, rule.rule.slow.bytes_per_second);
            return;
        }
        upRes.pipe(res);
    }

    // Collects the body, then sends a tenth of the rate ten times a second.
    throttle(upRes, res, bytesPerSecond) {
        const slice = Math.max(1, Math.floor(bytesPerSecond / 10));
        const chunks = [];
        upRes.on('data', (c) => chunks.push(c));
        upRes.on('end', () => {
            let body = Buffer.concat(chunks);
            const timer = setInterval(() => {
                res.write(body.subarray(0, slice));
                body = body.subarray(slice);
                if (body.length === 0) {
                    clearInterval(timer);
                    res.end();
                }
            }, 100);
            res.on('close', () => clearInterval(timer));
        });
    }

    control(req, res) {
        const chunks = [];
        req.on('data', (c) => chunks.push(c));
        req.on('end', () => {
            const send = (status, value) => {
                const body = Buffer.from(JSON.stringify(value));
                res.writeHead(status, {
                    'Content-Type': 'application/json',
                    'Content-Length': String(body.length),
                });
                res.end(body);
            };
            const route = `${req.method} ${req.url}`;
            const routes = {
                'POST /rules': () => ({rules: this.rules.push(validateRule(JSON.parse(Buffer.concat(chunks))))}),
                'DELETE /rules': () => ({rules: (this.rules = []).length}),
                'GET /requests': () => this.log,
                'DELETE /requests': () => ({requests: (this.log = []).length}),
            };
            try {
                if (routes[route]) {
                    send(200, routes[route]());
                } else {
                    send(404, {error: `no such control route: ${route}`});
                }
            } catch (err) {
                send(400, {error: err.message});
            }
        });
    }
}

function listen(server) {
    return new Promise((resolve, reject) => {
        server.once('error', reject);
        server.listen(0, '127.0.0.1', () => resolve(server.address().port));
    });
}

async function main() {
    // Read before the ready line: the parent may end as soon as it has it.
    const parent = process.ppid;
    const opts = parseArgs(process.argv.slice(2));
    const proxy = new Proxy(opts);
    const server = https.createServer({cert: fs.readFileSync(opts.cert), key: fs.readFileSync(opts.key)},
        (req, res) => proxy.handle(req, res));
    // Longer than any client idles in a test, so a kept-alive connection is not
    // closed under a request.
    server.keepAliveTimeout = 120000;
    server.headersTimeout = 121000;
    server.requestTimeout = 0;
    const controlServer = http.createServer((req, res) => proxy.control(req, res));

    const port = await listen(server);
    const controlPort = await listen(controlServer);
    process.stdout.write(JSON.stringify({pid: process.pid, port, control_port: controlPort}) + '\n');
    setInterval(() => {
        try {
            process.kill(parent, 0);
        } catch (err) {
            process.exit(0);
        }
    }, 500);
}

main().catch((err) => {
    process.stderr.write(`fault_proxy: ${err.message}\n`);
    process.exit(1);
});
