#!/usr/bin/perl
# An independent SOAP 1.1 server for the client tests: prints its URL, then serves until
# killed. Methods live in the test service namespace.
use strict;
use warnings;
use SOAP::Transport::HTTP;

$| = 1;
my $daemon = SOAP::Transport::HTTP::Daemon->new(LocalAddr => '127.0.0.1', LocalPort => 0, Reuse => 1)
    or die "cannot listen: $!";
$daemon->dispatch_with({ 'http://lumbrake.test/search/' => 'Calc' });
print $daemon->url, "\n";
$daemon->handle;

package Calc;
use SOAP::Lite;

sub Add {
    my ($class, $a, $b) = @_;
    return SOAP::Data->name('result')->type('int')->value($a + $b);
}

# Takes a list of strings, answers them reversed and joined.
sub Reverse {
    my ($class, $list) = @_;
    my @items = reverse @$list;
    return (SOAP::Data->name('joined')->type('string')->value(join('|', @$list)),
            SOAP::Data->name('reversed')->value(\@items));
}

sub Echo64 {
    my ($class, $bytes) = @_;
    return SOAP::Data->name('copy')->type('base64')->value($bytes . "!");
}

sub Fail {
    die SOAP::Fault->faultcode('Server')->faultstring('BadMagic');
}
