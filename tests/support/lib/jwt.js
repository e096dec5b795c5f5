'use strict';
// Tokens shaped like the identity platform's access tokens for storage, which
// the emulator decodes without checking the signature.

const crypto = require('crypto');

const TENANT = '8f3c0c4e-5d2a-4b71-9a0e-0f7d1c2b3a45';

function b64url(text) {
    return Buffer.from(text).toString('base64url');
}

function mintToken(lifetimeSeconds = 3600) {
    const now = Math.floor(Date.now() / 1000);
    const exp = now + lifetimeSeconds;
    // For an expired token, issue it before it expired so only exp is wrong.
    const iat = Math.min(now, exp) - 300;
    const header = {alg: 'RS256', typ: 'JWT'};
    const payload = {
        aud: 'https://storage.azure.com',
        iss: `https://sts.windows.net/${TENANT}/`,
        iat,
        nbf: iat,
        exp,
        oid: '0b1d5e2a-7c3f-4e89-b6a1-2d4c6e8f0a13',
        sub: 'ostrel-test-subject',
        tid: TENANT,
        jti: crypto.randomUUID(),
    };
    const signature = Buffer.from('ostrel-test-signature').toString('base64url');
    return `${b64url(JSON.stringify(header))}.${b64url(JSON.stringify(payload))}.${signature}`;
}

function expiryText(epochSeconds) {
    // toISOString gives YYYY-MM-DDTHH:MM:SS.mmmZ; the connector wants microseconds and an offset.
    return new Date(epochSeconds * 1000).toISOString().slice(0, 19) + '.000000+00:00';
}

function mintCreds(lifetimeSeconds = 3600, sub = 'tester') {
    const exp = Math.floor(Date.now() / 1000) + lifetimeSeconds;
    return JSON.stringify({
        access_token: mintToken(lifetimeSeconds),
        token_expiry: expiryText(exp),
        sub,
    });
}

// Options come as "--name VALUE"; --lifetime is a whole number of seconds.
function parseArgs(argv, known) {
    const out = {};
    for (let i = 0; i < argv.length; i += 2) {
        const [name, value] = [argv[i], argv[i + 1]];
        if (!known.includes(name) || value === undefined || (name === '--lifetime' && !/^-?[0-9]+$/.test(value))) {
            process.stderr.write(`usage: ${known.map((k) => `[${k} VALUE]`).join(' ')}\n`);
            process.exit(2);
        }
        out[name] = name === '--lifetime' ? parseInt(value, 10) : value;
    }
    return out;
}

module.exports = {mintToken, mintCreds, expiryText, parseArgs};
